// The recording setting: what turns recording on, and a file that cannot be
// opened, which leaves it off and says so once.
#include "diag/call_recorder.h"
#include "debug_capture.h"
#include "platform/platform.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zelbridge {
namespace {

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
        const CallRecorder recorder(setting.setting);
        EXPECT_EQ(recorder.on(), setting.on) << (setting.setting ? setting.setting : "(null)");
        ASSERT_EQ(capture.messages().size(), setting.messages);
        if (setting.messages) {
            EXPECT_NE(capture.Text().find("ZELBRIDGE_RECORD"), std::string::npos) << capture.Text();
        }
    }
    std::remove(writable.c_str());
}

} // namespace
} // namespace zelbridge
