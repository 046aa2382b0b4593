// Drivers that call back into the module while it loads them: from the
// initialiser of a library that DefineSystem loads, and from that of a family
// library during the family's first call. The call back gets the result of a
// call that finds nothing available, at once, on the loading thread.
#include "zelbridge.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <string>

namespace zelbridge {
namespace {

using test::ScopedDriverScript;
using test::ZelbridgeModule;

TEST(Reentry, ADriverCallingBackWhileItLoadsGetsTheUnavailableResult)
{
    ScopedDriverScript script;
    test::ScopedInstallPath installPath;
    installPath.Set(test::BinaryDirectory() + test::PathSeparator() + "families_reentrant");
    ZelbridgeModule module;

    // The outer define succeeds; the one from inside its load defines nothing.
    const std::string driver = test::BinaryPath("drv_reenter.dll");
    EXPECT_EQ(ZB_EXPORT_OF(module, DefineSystem)(driver.c_str(), "DRV_"), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, IsConnected)(0), 1);
    EXPECT_EQ(ZB_EXPORT_OF(module, IsConnected)(1), 0);
    // The family library exports none of the family's functions, so the outer
    // first call finds the family unavailable too, and gives the same result.
    const int unavailable = ZB_EXPORT_OF(module, M329_IsConnected)(3);
    const std::string log = script.Log();
    EXPECT_NE(log.find("reenter:DefineSystem returned -1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("reenter:M329_IsConnected returned " + std::to_string(unavailable) + "\n"), std::string::npos)
        << log;
    // Nothing is left half-loaded: the next call tries again from the start.
    script.ClearLog();
    EXPECT_EQ(ZB_EXPORT_OF(module, M329_IsConnected)(3), unavailable);
    EXPECT_NE(script.Log().find("reenter:M329_IsConnected returned"), std::string::npos);
}

} // namespace
} // namespace zelbridge
