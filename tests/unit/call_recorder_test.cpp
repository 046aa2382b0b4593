// The recording setting: what turns recording on, and a file that cannot be
// opened, which leaves it off and says so once.
#include "diag/call_recorder.h"
#include "debug_capture.h"
#include "platform/platform.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace zelbridge {
namespace {

#if defined(_WIN32)
constexpr std::uint32_t kNoSuchFolder = 3; // ERROR_PATH_NOT_FOUND
constexpr std::uint32_t kNoSuchFile = kNoSuchFolder;
#else
constexpr std::uint32_t kNoSuchFile = 2; // ENOENT
#endif

TEST(CallRecorderTest, OnlyAFileThatOpensTurnsRecordingOnAndOneThatDoesNotIsSaidOnce)
{
    const std::string writable = test::BinaryPath("recorder-setting.jsonl");
    const std::string unopenable = test::BinaryPath("no-such-folder") + platform::kPathSeparator + "x.jsonl";
    const struct {
        const char* setting;
        bool on;
        std::size_t messages;
    } cases[] = {{nullptr, false, 0}, {"", false, 0}, {writable.c_str(), true, 0}, {unopenable.c_str(), false, 1}};
    for (const auto& setting : cases) {
        const test::DebugCapture capture;
        CallRecorder recorder(setting.setting);
        EXPECT_EQ(recorder.on(), setting.on) << (setting.setting ? setting.setting : "(null)");
        // Said when the module attaches, once, not when a program linking the same code starts.
        EXPECT_TRUE(capture.messages().empty());
        recorder.SayWarning();
        recorder.SayWarning();
        ASSERT_EQ(capture.messages().size(), setting.messages);
        if (setting.messages) {
            EXPECT_NE(capture.Text().find("ZELBRIDGE_RECORD"), std::string::npos) << capture.Text();
            // The file, and why: here, that its folder does not exist.
            EXPECT_NE(capture.Text().find(setting.setting), std::string::npos) << capture.Text();
            char reason[128];
            platform::DescribeError(kNoSuchFile, reason, sizeof reason);
            EXPECT_NE(capture.Text().find(reason), std::string::npos) << capture.Text();
        }
    }
    std::remove(writable.c_str());
}

// Two openings of one file, as two processes recording into it have: each
// record lands whole after the other's, never over it nor inside it.
TEST(CallRecorderTest, TwoWritersAppendingToOneFileNeverMixTheirRecords)
{
    const std::string path = test::BinaryPath("two-writers.jsonl");
    std::remove(path.c_str());
    constexpr int kRecords = 200;
    const std::string records[] = {std::string(20000, 'a') + "\n", std::string(30000, 'b') + "\n"};
    std::vector<std::thread> writers;
    for (const std::string& record : records) {
        writers.emplace_back([&path, &record] {
            recording::RecordFile file;
            char reason[128];
            ASSERT_TRUE(file.Open(path.c_str(), reason, sizeof reason)) << reason;
            for (int i = 0; i < kRecords; ++i)
                file.Append(record.data(), record.size());
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    std::ifstream file(path, std::ios::binary);
    int whole = 0;
    for (std::string line; std::getline(file, line);)
        whole += line + "\n" == records[0] || line + "\n" == records[1] ? 1 : 0;
    EXPECT_EQ(whole, 2 * kRecords);
    file.close();
    std::remove(path.c_str());
}

} // namespace
} // namespace zelbridge
