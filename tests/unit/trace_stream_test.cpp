// What each write of the trace stream sends where, in each of its modes.
#include "diag/trace_stream.h"
#include "debug_capture.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace zelbridge {
namespace {

using Messages = std::vector<std::string>;

std::string ReadFile(const std::string& path)
{
    // Text mode: on Windows the trace file has the platform's line ends.
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::ostream& Bracket(std::ostream& stream)
{
    return stream << "[]";
}

std::string TemporaryFile(const char* name)
{
    const std::string path = test::BinaryPath(std::string("trace-") + name + ".txt");
    std::remove(path.c_str());
    return path;
}

TEST(TraceStreamDebugOutput, EachItemIsOneMessage)
{
    test::DebugCapture capture;
    TraceStream trace("debug");
    const char* nothing = nullptr;
    TraceStream& end = trace << "TIMER: " << nothing << std::int32_t{-5} << std::uint32_t{4294967295u} << std::endl
                             << Bracket << "last";
    EXPECT_EQ(&end, &trace);
    EXPECT_EQ(capture.messages(), (Messages{"TIMER: ", "-5", "4294967295", "\n", "\n", "last"}));
}

TEST(TraceStreamDebugOutput, TimestampsAreSentWithoutALineEnd)
{
    test::DebugCapture capture;
    TraceStream trace("debug");
    trace << GmtTimestamp << LocalTimestamp;
    ASSERT_EQ(capture.messages().size(), 2u);
    // For example: 14:03:27 - Monday, December 07, 2026
    const std::string local = R"(([01]\d|2[0-3]):[0-5]\d:[0-6]\d - (Sun|Mon|Tues|Wednes|Thurs|Fri|Satur)day, )"
                              R"((January|February|March|April|May|June|July|August|September|October|November|December) )"
                              R"((0[1-9]|[12]\d|3[01]), 20\d\d)";
    EXPECT_TRUE(std::regex_match(capture.messages()[0], std::regex(local + R"( \(GMT\))"))) << capture.messages()[0];
    EXPECT_TRUE(std::regex_match(capture.messages()[1], std::regex(local))) << capture.messages()[1];
    TimestampText text;
    EXPECT_TRUE(std::regex_match(FormatLocalTimestamp(text), std::regex(local)));
}

TEST(TraceStreamDisabled, WritesNothingAnywhereAndEveryChainRunsToItsEnd)
{
    test::DebugCapture capture;
    for (const char* setting : {static_cast<const char*>(nullptr), "", "0", "verbose", "file:"}) {
        TraceStream trace(setting);
        EXPECT_TRUE(trace.disabled()) << (setting ? setting : "(unset)");
        TraceStream& end = trace << "ZEL: " << std::int32_t{3} << std::uint32_t{7} << std::endl << GmtTimestamp << "x";
        EXPECT_EQ(&end, &trace);
    }
    EXPECT_TRUE(capture.messages().empty());
}

TEST(TraceStreamFile, ItemsAreInsertedAndEachLineIsOnDiskAtOnce)
{
    test::DebugCapture capture;
    const std::string path = TemporaryFile("items");
    {
        TraceStream trace(("file:" + path).c_str());
        EXPECT_FALSE(trace.disabled());
        const char* nothing = nullptr;
        trace << "TIMER: " << nothing << "name" << std::int32_t{-5} << " " << std::uint32_t{4294967295u} << std::endl;
        // Unbuffered: what is written is in the file before the stream ends.
        EXPECT_EQ(ReadFile(path), "TIMER: name-5 4294967295\n");
        trace << Bracket << std::endl;
    }
    EXPECT_EQ(ReadFile(path), "TIMER: name-5 4294967295\n[]\n");
    EXPECT_TRUE(capture.messages().empty());
}

TEST(TraceStreamFile, AppendsToWhatIsThere)
{
    const std::string path = TemporaryFile("append");
    TraceStream(("file:" + path).c_str()) << "one" << std::endl;
    TraceStream(("file:" + path).c_str()) << "two" << std::endl;
    EXPECT_EQ(ReadFile(path), "one\ntwo\n");
}

TEST(TraceStreamFile, AFileThatCannotBeOpenedLeavesTheTraceDisabled)
{
    const std::string path = test::BinaryPath("trace.txt", "no-such-folder");
    TraceStream trace(("file:" + path).c_str());
    EXPECT_TRUE(trace.disabled());
    trace << "lost" << std::endl;
}

} // namespace
} // namespace zelbridge
