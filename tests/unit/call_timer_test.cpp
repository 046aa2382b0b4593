// TIMER lines, with a tick source the test drives. The program runs with
// ZELBRIDGE_TRACE=debug, so every item reaches the captured debug output.
#include "diag/call_timer.h"
#include "debug_capture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelbridge {
namespace {

using Messages = std::vector<std::string>;

// The tick readings the timer will see, in order.
std::vector<std::uint32_t> ticks;
std::size_t nextTick = 0;

std::uint32_t ScriptedTick()
{
    return ticks.at(nextTick++);
}

class CallTimerTest : public ::testing::Test {
protected:
    void UseTicks(std::vector<std::uint32_t> readings)
    {
        ticks = std::move(readings);
        nextTick = 0;
        platform::SetTickSource(&ScriptedTick);
    }
    void TearDown() override { platform::SetTickSource(nullptr); }

    test::DebugCapture capture;
};

TEST_F(CallTimerTest, ACallWithinOneTickShowsZeroElapsed)
{
    UseTicks({920, 920});
    { const CallTimer timer("ConnectRS232"); }
    EXPECT_EQ(capture.messages(), (Messages{"TIMER: ", "ConnectRS232", "  -- start ", "920", "\n", "TIMER: ",
                                            "ConnectRS232", "  -- end ", "920", " (", "0", ")", "\n"}));
}

TEST_F(CallTimerTest, TheEndLineShowsNowAndTheElapsedTicks)
{
    UseTicks({920, 936});
    { const CallTimer timer("ConnectRS232"); }
    EXPECT_EQ(capture.Text(), "TIMER: ConnectRS232  -- start 920\nTIMER: ConnectRS232  -- end 936 (16)\n");
}

TEST_F(CallTimerTest, ASilentTimerWithinOneTickWritesNothing)
{
    UseTicks({5000, 5000});
    { const CallTimer timer("ZelGetAnswerSize", true); }
    EXPECT_TRUE(capture.messages().empty());
    EXPECT_EQ(nextTick, 2u);
}

TEST_F(CallTimerTest, ASilentTimerSpanningTicksWritesOnlyTheEndLine)
{
    UseTicks({5000, 5001});
    { const CallTimer timer("ZelGetAnswerSize", true); }
    EXPECT_EQ(capture.Text(), "TIMER: ZelGetAnswerSize  -- end 5001 (1)\n");
}

TEST_F(CallTimerTest, ElapsedTimeSurvivesTheWrapOfTheTickCount)
{
    UseTicks({4294967290u, 5});
    { const CallTimer timer("GetError"); }
    EXPECT_EQ(capture.Text(), "TIMER: GetError  -- start -6\nTIMER: GetError  -- end 5 (11)\n");
}

TEST_F(CallTimerTest, TicksFromTwoToThe31stAreWrittenAsNegative)
{
    UseTicks({2147483648u, 2147483649u});
    { const CallTimer timer("IsConnected"); }
    EXPECT_EQ(capture.Text(), "TIMER: IsConnected  -- start -2147483648\nTIMER: IsConnected  -- end -2147483647 (1)\n");
}

TEST_F(CallTimerTest, TheNameIsCopiedAndALongOneIsCut)
{
    UseTicks({1, 1});
    std::string name = "DefineSystem";
    {
        const CallTimer timer(name.c_str());
        name = "overwritten!";
    }
    EXPECT_EQ(capture.Text(), "TIMER: DefineSystem  -- start 1\nTIMER: DefineSystem  -- end 1 (0)\n");

    capture.Clear();
    UseTicks({1, 1});
    const std::string longName(100, 'n');
    { const CallTimer timer(longName.c_str()); }
    EXPECT_EQ(capture.messages().at(1), std::string(CallTimer::kNameCapacity - 1, 'n'));
}

} // namespace
} // namespace zelbridge
