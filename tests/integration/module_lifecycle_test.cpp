// Loading and unloading the module in a running process: what the detach
// step closes and frees, in which order, and that a new load starts afresh.
// The drivers' records live in this program, so they outlive the drivers.
#include "zelbridge.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

namespace zelbridge {
namespace {

using test::ScopedDriverScript;
using test::ZelbridgeModule;

TEST(ModuleLifecycle, AProcessThatCallsNothingReleasesNothing)
{
    ScopedDriverScript script;
    {
        ZelbridgeModule module;
        ASSERT_TRUE(module.loaded());
    }
    EXPECT_EQ(script.Log(), "");
}

TEST(ModuleLifecycle, DetachClosesEverySystemOnceBeforeFreeingAnyLibrary)
{
    ScopedDriverScript script;
    ZelbridgeModule module;
    const auto defineSystem = ZB_EXPORT_OF(module, DefineSystem);
    ASSERT_EQ(defineSystem("drv_second.dll", "DRV_"), 0);
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 1);
    ASSERT_EQ(defineSystem("drv_second.dll", "DRV_"), 2);
    script.SetResult("DRV_ConnectTCPIP", 8);
    ASSERT_EQ(ZB_EXPORT_OF(module, ConnectTCPIP)(1, 0, 0), 1);
    script.SetResult("DRV_ConnectTCPIP", 9);
    ASSERT_EQ(ZB_EXPORT_OF(module, ConnectTCPIP)(2, 0, 0), 2);
    script.ClearLog();

    module.Unload();
    const std::string closes = "second:DRV_CloseConnection(-1)\n"
                               "full:DRV_CloseConnection(8)\n"
                               "second:DRV_CloseConnection(9)\n";
#if defined(_WIN32)
    // Libraries are freed in ascending order of their upper-cased names.
    EXPECT_EQ(script.Log(), closes + "full:unload\nsecond:unload\n");
#else
    // glibc defers the unloading of libraries closed while another library
    // is being closed, and may unmap them in either order.
    EXPECT_TRUE(script.Log() == closes + "full:unload\nsecond:unload\n" ||
                script.Log() == closes + "second:unload\nfull:unload\n")
        << script.Log();
#endif
}

TEST(ModuleLifecycle, DetachReleasesFourFamilyLibrariesThenTheSystems)
{
    ScopedDriverScript script;
    ZelbridgeModule module;
    // Each family library is loaded by its first call.
    for (const char* isConnected : {"M329_IsConnected", "M317_IsConnected", "M318_IsConnected", "T520_IsConnected"})
        module.Get<decltype(&::M329_IsConnected)>(isConnected)(0);
    ASSERT_EQ(ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_"), 0);
    script.SetResult("DRV_ConnectRS232", 5);
    ASSERT_EQ(ZB_EXPORT_OF(module, ConnectRS232)(0, 1, 2), 0);
    script.ClearLog();

    module.Unload();
    // Libraries freed while another is being unloaded are unloaded only
    // afterwards (by Windows and glibc alike), so their unload records do
    // not show the order of the calls; the detach unit test shows that.
    const std::string log = script.Log();
    EXPECT_EQ(log.find("full:DRV_CloseConnection(5)\n"), 0u) << log;
    for (const char* released : {"m318:unload\n", "m329:unload\n", "full:unload\n"})
        EXPECT_NE(log.find(released), std::string::npos) << released << " missing from\n" << log;
    EXPECT_EQ(log.size(), std::string("full:DRV_CloseConnection(5)\nm318:unload\nm329:unload\nfull:unload\n").size())
        << log;
    // The M317 and T520 libraries stay loaded until the process ends.
    EXPECT_EQ(log.find("m317:unload"), std::string::npos);
    EXPECT_EQ(log.find("t520:unload"), std::string::npos);
}

TEST(ModuleLifecycle, ASecondLoadStartsAfresh)
{
    ScopedDriverScript script;
    {
        ZelbridgeModule module;
        ASSERT_EQ(ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_"), 0);
        ASSERT_EQ(ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_"), 1);
    }
    script.ClearLog();
    ZelbridgeModule again;
    EXPECT_EQ(ZB_EXPORT_OF(again, IsConnected)(1), 0);
    EXPECT_EQ(ZB_EXPORT_OF(again, DefineSystem)("drv_full.dll", "DRV_"), 0);
    EXPECT_EQ(script.Log(), "full:load\n");
}

TEST(ModuleLifecycle, ThreadsComingAndGoingChangeNothing)
{
    ScopedDriverScript script;
    ZelbridgeModule module;
    ASSERT_EQ(ZB_EXPORT_OF(module, DefineSystem)("drv_full.dll", "DRV_"), 0);
    script.SetResult("DRV_ConnectRS232", 4);
    int connected = -2;
    std::thread([&] { connected = ZB_EXPORT_OF(module, ConnectRS232)(0, 1, 2); }).join();
    EXPECT_EQ(connected, 0);
    script.ClearLog();
    std::thread([&] { ZB_EXPORT_OF(module, IsConnected)(0); }).join();
    EXPECT_EQ(script.Log(), "full:DRV_IsConnected(4)\n");
}

} // namespace
} // namespace zelbridge
