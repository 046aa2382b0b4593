// The attach and detach steps, run directly, so that each library a step
// frees is unloaded at once and its record shows the order of the calls.
#include "zelbridge.h"
#include "module/lifecycle.h"
#include "test_environment.h"

#include <gtest/gtest.h>

namespace zelbridge {
namespace {

TEST(Lifecycle, DetachFreesFamilyLibrariesInOrderThenClosesAndFreesTheSystems)
{
    test::ScopedDriverScript script;
    AttachModule();
    for (const auto isConnected : {&M329_IsConnected, &M317_VB_IsConnected, &M318_IsConnected, &T5XX_IsConnected,
                                   &M317_IsConnected, &T520_IsConnected})
        isConnected(0);
    ASSERT_EQ(DefineSystem("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(DefineSystem("drv_second.dll", "DRV_"), 1);
    script.SetResult("DRV_ConnectNIgpib", 5);
    ASSERT_EQ(ConnectNIgpib(1, 0, 3), 1);
    script.ClearLog();

    DetachModule();
    EXPECT_EQ(script.Log(), "m317vb:unload\n"
                            "m318:unload\n"
                            "t5xx:unload\n"
                            "m329:unload\n"
                            "full:DRV_CloseConnection(-1)\n"
                            "second:DRV_CloseConnection(5)\n"
                            "full:unload\n"
                            "second:unload\n");
    // Released families load again on their next call; M317 and T520 were kept.
    script.ClearLog();
    EXPECT_EQ(M318_IsDLLAvailable(), 1);
    EXPECT_EQ(M317_IsDLLAvailable(), 1);
    EXPECT_EQ(script.Log(), "m318:load\n");
}

TEST(Lifecycle, AttachAndDetachWithNothingUsedLoadAndFreeNothing)
{
    test::ScopedDriverScript script;
    AttachModule();
    DetachModule();
    AttachModule();
    EXPECT_EQ(script.Log(), "");
    EXPECT_EQ(IsConnected(0), 0);
}

} // namespace
} // namespace zelbridge
