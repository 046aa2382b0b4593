// The TIMER lines of real exported calls, with the trace switched to a file
// when the module is loaded.
#include "zelbridge.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

namespace zelbridge {
namespace {

using test::kConnectPciBoardExport;

class GenericTraceTest : public ::testing::Test {
protected:
    GenericTraceTest()
    {
        std::remove(tracePath.c_str());
        test::SetEnvironment("ZELBRIDGE_TRACE", ("file:" + tracePath).c_str());
        module = std::make_unique<test::ZelbridgeModule>();
        test::UnsetEnvironment("ZELBRIDGE_TRACE");
    }

    // The trace written since the last Mark().
    std::string Trace() const
    {
        std::ifstream file(tracePath);
        std::stringstream content;
        content << file.rdbuf();
        return content.str().substr(mark);
    }
    void Mark() { mark += Trace().size(); }

    // The trace with every tick count replaced by T and every elapsed time by E.
    std::string TraceShape() const
    {
        const std::string ticks = std::regex_replace(Trace(), std::regex(R"(-- (start|end) -?\d+)"), "-- $1 T");
        return std::regex_replace(ticks, std::regex(R"( \(\d+\)\n)"), " (E)\n");
    }

    test::ScopedDriverScript script;
    const std::string tracePath = test::BinaryPath("generic-trace-" +
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".txt");
    std::unique_ptr<test::ZelbridgeModule> module;
    std::size_t mark = 0;
};

TEST_F(GenericTraceTest, EachTimedCallWritesItsStartAndEndLines)
{
    EXPECT_EQ(ZB_EXPORT_OF(*module, DefineSystem)("drv_full.dll", "DRV_"), 0);
    EXPECT_EQ(ZB_EXPORT_OF(*module, GetError)(-1), FUNCTION_NOT_AVAILABLE);
    ZB_EXPORT_OF(*module, CloseConnection)(5);
    EXPECT_EQ(TraceShape(), "TIMER: DefineSystem  -- start T\n"
                            "TIMER: DefineSystem  -- end T (E)\n"
                            "TIMER: GetError  -- start T\n"
                            "TIMER: GetError  -- end T (E)\n"
                            "TIMER: CloseConnection  -- start T\n"
                            "TIMER: CloseConnection  -- end T (E)\n");
    // The end line's tick is the start's plus the elapsed time.
    std::smatch match;
    const std::string trace = Trace();
    ASSERT_TRUE(std::regex_search(trace, match, std::regex(R"(start (-?\d+)\n.*end (-?\d+) \((\d+)\))")));
    EXPECT_EQ(static_cast<std::uint32_t>(std::stol(match[1])) + static_cast<std::uint32_t>(std::stol(match[3])),
              static_cast<std::uint32_t>(std::stol(match[2])));
}

TEST_F(GenericTraceTest, ConnectPciBoardTimesItselfAroundConnect)
{
    ASSERT_EQ(ZB_EXPORT_OF(*module, DefineSystem)("drv_full.dll", "DRV_"), 0);
    Mark();
    script.SetResult("DRV_ConnectPciBoard", 1);
    EXPECT_EQ(module->Get<decltype(&::ConnectPciBoard)>(kConnectPciBoardExport)(0, 3), 0);
    EXPECT_EQ(TraceShape(), "TIMER: ConnectPciBoard  -- start T\n"
                            "TIMER: Connect  -- start T\n"
                            "TIMER: Connect  -- end T (E)\n"
                            "TIMER: ConnectPciBoard  -- end T (E)\n");
}

TEST_F(GenericTraceTest, InterfaceSetupDlgAndQuickAnswerSizeCallsWriteNothing)
{
    ASSERT_EQ(ZB_EXPORT_OF(*module, DefineSystem)("drv_full.dll", "DRV_"), 0);
    Mark();
    int size = 0;
    EXPECT_EQ(ZB_EXPORT_OF(*module, InterfaceSetupDlg)(0, 1), 0);
    EXPECT_EQ(ZB_EXPORT_OF(*module, InterfaceSetupDlg)(3, 1), -1);
    for (int call = 0; call < 20; ++call)
        ZB_EXPORT_OF(*module, ZelGetAnswerSize)(0, &size);
    // A silent timer writes an end line only for a call that took a tick.
    const std::string trace = Trace();
    EXPECT_TRUE(std::regex_match(trace, std::regex(R"((TIMER: ZelGetAnswerSize  -- end -?\d+ \([1-9]\d*\)\n)*)"))) << trace;
}

} // namespace
} // namespace zelbridge
