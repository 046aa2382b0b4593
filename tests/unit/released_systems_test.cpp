// Generic entry points on systems that the teardown has released.
#include "zelbridge.h"
#include "api/system_table.h"
#include "test_environment.h"

#include <gtest/gtest.h>

namespace zelbridge {
namespace {

TEST(ReleasedSystems, GiveTheInvalidIndexResultsAndReachNoDriver)
{
    test::ScopedDriverScript script;
    ASSERT_EQ(DefineSystem("drv_full.dll", "DRV_"), 0);
    script.SetResult("DRV_ConnectRS232", 2);
    ASSERT_EQ(ConnectRS232(0, 1, 2), 0);
    // As a call on another thread may hold it across the release.
    SystemBinding* held = SystemTable::Instance().GetSystem(0);
    SystemTable::Instance().ReleaseAll();
    script.ClearLog();

    // What it holds is still there and resolves nothing.
    EXPECT_EQ(held->IsConnected(), 0);
    EXPECT_EQ(held->GetError(), FUNCTION_NOT_AVAILABLE);

    EXPECT_EQ(ConnectRS232(0, 1, 2), -1);
    EXPECT_EQ(ConnectUSB(0, 1), 0);
    EXPECT_EQ(GetError(0), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(IsConnected(0), 0);
    CloseConnection(0);
    EXPECT_EQ(script.Log(), "");
    // A released index stays used: the next system gets the next one.
    EXPECT_EQ(DefineSystem("drv_full.dll", "DRV_"), 1);
    // Resolved anew from the library loaded again, not from the old table.
    EXPECT_EQ(ConnectRS232(1, 1, 2), 1);
    EXPECT_EQ(script.CountOf("full:DRV_ConnectRS232"), 2);
    SystemTable::Instance().ReleaseAll();
}

} // namespace
} // namespace zelbridge
