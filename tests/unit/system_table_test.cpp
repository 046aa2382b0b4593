// Defining systems on real driver libraries: the library cache, indices,
// and the order of the teardown.
#include "api/system_table.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <string>

namespace zelbridge {
namespace {

using test::BinaryPath;
using test::ScopedDriverScript;

class SystemTableTest : public ::testing::Test {
protected:
    void TearDown() override { table.ReleaseAll(); }

    ScopedDriverScript script;
    SystemTable table;
};

TEST_F(SystemTableTest, NamesDifferingOnlyInCaseShareOneLoadedLibrary)
{
    EXPECT_EQ(table.Define("drv_full.dll", "DRV_"), 0);
    EXPECT_EQ(table.Define("DRV_FULL.DLL", "DRV_"), 1);

    ASSERT_EQ(table.libraries().size(), 1u);
    EXPECT_EQ(table.libraries().begin()->first, "DRV_FULL.DLL");
    EXPECT_EQ(script.Log(), "full:load\n");
    // Each system keeps its own connection.
    script.SetResult("DRV_ConnectRS232", 7);
    EXPECT_EQ(table.GetSystem(0)->ConnectRS232(1, 2), 7);
    EXPECT_EQ(table.GetSystem(1)->connectionId(), -1);
}

TEST_F(SystemTableTest, PathAndBareNameAreTwoEntriesEachFreedOnce)
{
    ASSERT_EQ(table.Define("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(table.Define(BinaryPath("drv_full.dll").c_str(), "DRV_"), 1);
    EXPECT_EQ(table.libraries().size(), 2u);

    table.ReleaseAll();
    EXPECT_TRUE(table.libraries().empty());
    // Both keys name the same file: it is unloaded only when both are freed.
    EXPECT_EQ(script.Log(), "full:load\nfull:DRV_CloseConnection(-1)\nfull:DRV_CloseConnection(-1)\nfull:unload\n");
}

TEST_F(SystemTableTest, FailedLoadsUseNoIndexAndAreRetried)
{
    EXPECT_EQ(table.Define("no_such_driver.dll", "DRV_"), -1);
    EXPECT_EQ(table.Define("no_such_driver.dll", "DRV_"), -1);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_TRUE(table.libraries().empty());
    EXPECT_EQ(table.Define("drv_full.dll", "DRV_"), 0);
}

TEST_F(SystemTableTest, NullArgumentsDefineNothing)
{
    EXPECT_EQ(table.Define(nullptr, "DRV_"), -1);
    EXPECT_EQ(table.Define("drv_full.dll", nullptr), -1);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_TRUE(table.libraries().empty());
}

TEST_F(SystemTableTest, LibraryWithoutThePrefixedNamesStillDefinesASystem)
{
    ASSERT_EQ(table.Define("drv_empty.dll", "DRV_"), 0);
    SystemBinding* system = table.GetSystem(0);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->ConnectRS232(1, 2), -1);
    EXPECT_EQ(system->GetError(), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(system->GetError(), FUNCTION_NOT_AVAILABLE);
}

TEST_F(SystemTableTest, EmptyPrefixResolvesTheBareOperationNames)
{
    ASSERT_EQ(table.Define("drv_bare.dll", ""), 0);
    script.SetResult("GetError", 12);
    EXPECT_EQ(table.GetSystem(0)->GetError(), 12);
    EXPECT_NE(script.Log().find("bare:GetError(-1)\n"), std::string::npos);
}

TEST_F(SystemTableTest, GetSystemRejectsEveryIndexThatNamesNoSystem)
{
    EXPECT_EQ(table.GetSystem(0), nullptr);
    ASSERT_EQ(table.Define("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(table.Define("drv_second.dll", "DRV_"), 1);
    EXPECT_EQ(table.GetSystem(-1), nullptr);
    EXPECT_EQ(table.GetSystem(2), nullptr);
    EXPECT_EQ(table.GetSystem(1)->connectionId(), -1);
    EXPECT_NE(table.GetSystem(1), table.GetSystem(0));
}

TEST_F(SystemTableTest, ReleaseAllClosesEverySystemBeforeFreeingAnyLibrary)
{
    ASSERT_EQ(table.Define("drv_second.dll", "DRV_"), 0);
    ASSERT_EQ(table.Define("drv_full.dll", "DRV_"), 1);
    ASSERT_EQ(table.Define("drv_second.dll", "DRV_"), 2);
    script.SetResult("DRV_ConnectTCPIP", 4);
    table.GetSystem(1)->ConnectTCPIP(0, 0);
    script.ClearLog();

    table.ReleaseAll();
    // Systems in index order; then libraries in ascending key order.
    EXPECT_EQ(script.Log(), "second:DRV_CloseConnection(-1)\n"
                            "full:DRV_CloseConnection(4)\n"
                            "second:DRV_CloseConnection(-1)\n"
                            "full:unload\n"
                            "second:unload\n");
    for (int index = 0; index < 3; ++index)
        EXPECT_EQ(table.GetSystem(index), nullptr);
    EXPECT_TRUE(table.libraries().empty());

    script.ClearLog();
    table.ReleaseAll();
    EXPECT_EQ(script.Log(), "");
    // Indices are never reused.
    EXPECT_EQ(table.Define("drv_full.dll", "DRV_"), 3);
}

TEST_F(SystemTableTest, TheLibraryNameIsUpperCasedAsPlainAscii)
{
    const std::string name = BinaryPath("drv_full.dll");
    ASSERT_EQ(table.Define(name.c_str(), "DRV_"), 0);
    std::string expected = name;
    for (char& c : expected)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    EXPECT_EQ(table.libraries().begin()->first, expected);
}

TEST_F(SystemTableTest, InstanceIsOneTableForTheProcess)
{
    EXPECT_EQ(&SystemTable::Instance(), &SystemTable::Instance());
}

} // namespace
} // namespace zelbridge
