// What each write of the trace stream sends where, in each of its modes.
#include "diag/trace_stream.h"
#include "debug_capture.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
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

// Off is said nowhere; a setting that is not understood, or a file that
// cannot be opened, is said once on the debug output, and traces nothing.
TEST(TraceStreamDisabled, WritesNothingAnywhereAndSaysOnceWhatItDidNotUnderstand)
{
    const std::string unopenable = test::BinaryPath("trace.txt", "no-such-folder");
    const std::string notUnderstood = " is not understood (debug, file:PATH or 0); nothing is traced\n";
    const struct {
        std::optional<std::string> setting;
        std::string said;
    } cases[] = {
        {std::nullopt, ""},
        {"", ""},
        {"0", ""},
        {"verbose", "Zelbridge: ZELBRIDGE_TRACE=verbose" + notUnderstood},
        {"FILE:x", "Zelbridge: ZELBRIDGE_TRACE=FILE:x" + notUnderstood},
        {"file:", "Zelbridge: ZELBRIDGE_TRACE=file:" + notUnderstood},
        {"1", "Zelbridge: ZELBRIDGE_TRACE=1" + notUnderstood},
        {"file:" + unopenable, "Zelbridge: the trace file " + unopenable + " named by ZELBRIDGE_TRACE cannot be opened ("},
    };
    for (const auto& [setting, said] : cases) {
        const std::string value = setting.value_or("(unset)");
        test::DebugCapture capture;
        TraceStream trace(setting ? setting->c_str() : nullptr);
        EXPECT_TRUE(trace.disabled()) << value;
        TraceStream& end = trace << "ZEL: " << std::int32_t{3} << std::uint32_t{7} << std::endl << GmtTimestamp << "x";
        EXPECT_EQ(&end, &trace);
        // Said when the module attaches, not when a program linking the same code starts.
        EXPECT_TRUE(capture.messages().empty()) << value;
        trace.SayWarning();
        trace.SayWarning();
        if (said.empty()) {
            EXPECT_TRUE(capture.messages().empty()) << value;
            continue;
        }
        ASSERT_EQ(capture.messages().size(), 1u) << value;
        // The reason is the operating system's words, which differ.
        EXPECT_EQ(capture.messages()[0].substr(0, said.size()), said);
        EXPECT_EQ(capture.messages()[0].back(), '\n');
    }
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

// The family answer echo ends no line; it is written whole as soon as it is
// made, not held until the next line, which a process that dies never writes.
TEST(TraceStreamFile, AHeldLineIsWrittenWholeWhenAsked)
{
    const std::string path = TemporaryFile("held");
    TraceStream trace(("file:" + path).c_str());
    trace << "ZEL: M329_ZelGetAnswer(" << std::int32_t{0} << ", ," << std::int32_t{64} << ") => \"" << "21.5 C" << "\\n";
    EXPECT_EQ(ReadFile(path), "");
    trace.WriteHeldLine();
    EXPECT_EQ(ReadFile(path), "ZEL: M329_ZelGetAnswer(0, ,64) => \"21.5 C\\n");
    trace.WriteHeldLine();
    trace << "ZEL: next" << std::endl;
    EXPECT_EQ(ReadFile(path), "ZEL: M329_ZelGetAnswer(0, ,64) => \"21.5 C\\nZEL: next\n");
}

TEST(TraceStreamFile, AppendsToWhatIsThere)
{
    const std::string path = TemporaryFile("append");
    TraceStream(("file:" + path).c_str()) << "one" << std::endl;
    TraceStream(("file:" + path).c_str()) << "two" << std::endl;
    EXPECT_EQ(ReadFile(path), "one\ntwo\n");
}

} // namespace
} // namespace zelbridge
