// The generic, index-based API as an application sees it: the built module
// loaded at run time, its exports looked up by name, driving real drivers.
#include "zelbridge.h"
#include "test_environment.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace zelbridge {
namespace {

using test::kConnectPciBoardExport;

using test::ScopedDriverScript;
using test::ZelbridgeModule;

class GenericEntryPointsTest : public ::testing::Test {
protected:
    std::string Calls() const
    {
        std::string log = script.Log();
        return std::regex_replace(log, std::regex(R"(\w+:load\n)"), "");
    }

    ScopedDriverScript script;
    ZelbridgeModule module;
    decltype(&::DefineSystem) defineSystem = ZB_EXPORT_OF(module, DefineSystem);
};

TEST_F(GenericEntryPointsTest, ConnectReportsTheIndexAndKeepsTheDriversIdentifier)
{
    const auto connectRS232 = ZB_EXPORT_OF(module, ConnectRS232);
    const auto zelCommandset = ZB_EXPORT_OF(module, ZelCommandset);
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(defineSystem("drv_second.dll", "DRV_"), 1);

    script.SetResult("DRV_ConnectRS232", 3);
    EXPECT_EQ(connectRS232(1, 4, 9600), 1);
    script.SetResult("DRV_ZelCommandset", 17);
    EXPECT_EQ(zelCommandset(1, "*IDN?"), 17);
    script.SetResult("DRV_ConnectRS232", -1);
    EXPECT_EQ(connectRS232(0, 5, 19200), -1);
    zelCommandset(0, "X");

    EXPECT_EQ(Calls(), "second:DRV_ConnectRS232(4,9600)\n"
                       "second:DRV_ZelCommandset(3,\"*IDN?\")\n"
                       "full:DRV_ConnectRS232(5,19200)\n"
                       "full:DRV_ZelCommandset(-1,\"X\")\n");
}

// No name, an empty one or a folder names no library, on every platform (an
// empty name would open the program itself through dlopen).
TEST_F(GenericEntryPointsTest, ANameThatNamesNoLibraryDefinesNoSystem)
{
    for (const char* name : {static_cast<const char*>(nullptr), "", ".", "drv_absent.dll"})
        EXPECT_EQ(defineSystem(name, "DRV_"), -1) << (name ? name : "(null)");
    EXPECT_EQ(defineSystem("drv_full.dll", "DRV_"), 0);
}

TEST_F(GenericEntryPointsTest, EveryIndexReportingConnectTranslatesTheResult)
{
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 1);
    script.SetResult("DRV_InterfaceSetupDlg", 0);
    script.SetResult("DRV_ConnectNIgpib", 2);
    script.SetResult("DRV_ConnectTCPIP", -3);
    EXPECT_EQ(ZB_EXPORT_OF(module, InterfaceSetupDlg)(1, 0), 1);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectNIgpib)(1, 0, 4), 1);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectTCPIP)(1, 0, 4), -1);
    // These two give the driver's own result.
    script.SetResult("DRV_ConnectUSB", 6);
    script.SetResult("DRV_ConnectDaisyChainDevice", -7);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectUSB)(1, 0), 6);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectDaisyChainDevice)(1, 2, 3), -7);
    ZB_EXPORT_OF(module, IsConnected)(1);
    EXPECT_NE(Calls().find("full:DRV_IsConnected(-7)\n"), std::string::npos);
}

TEST_F(GenericEntryPointsTest, ConnectPrefersConnectPciBoardWhenTheDriverHasIt)
{
    const auto connect = ZB_EXPORT_OF(module, Connect);
    const auto connectPciBoard = module.Get<decltype(&::ConnectPciBoard)>(kConnectPciBoardExport);
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 0);
    ASSERT_EQ(defineSystem("drv_connect.dll", "DRV_"), 1);
    script.SetResult("DRV_ConnectPciBoard", 0);

    EXPECT_EQ(connect(0, 11), 0);
    EXPECT_EQ(connectPciBoard(0, 12), 0);
    EXPECT_EQ(connect(1, 13), 1);
    EXPECT_EQ(Calls(), "full:DRV_ConnectPciBoard(11)\n"
                       "full:DRV_ConnectPciBoard(12)\n"
                       "connect:DRV_Connect(13)\n");
}

TEST_F(GenericEntryPointsTest, ResultsAndArgumentsPassThroughEveryOperation)
{
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 0);
    script.SetResult("DRV_ConnectPciBoard", 2);
    ASSERT_EQ(ZB_EXPORT_OF(module, Connect)(0, 1), 0);
    script.SetAnswer("POS 12.5", 9);
    script.SetResult("DRV_ZelGetAnswer", 21);
    script.SetResult("DRV_ZelGetAnswerSize", 22);
    script.SetResult("DRV_GetError", 23);
    script.SetResult("DRV_TranslateError", 24);
    script.SetResult("DRV_ListUSB", 25);
    script.SetResult("DRV_OpenRS232DaisyChain", 26);
    script.ClearLog();

    char answer[16] = {};
    int size = 0;
    EXPECT_EQ(ZB_EXPORT_OF(module, ZelGetAnswerSize)(0, &size), 22);
    EXPECT_EQ(size, 9);
    EXPECT_EQ(ZB_EXPORT_OF(module, ZelGetAnswer)(0, answer, sizeof answer), 21);
    EXPECT_STREQ(answer, "POS 12.5");
    EXPECT_EQ(ZB_EXPORT_OF(module, GetError)(0), 23);
    EXPECT_EQ(ZB_EXPORT_OF(module, TranslateError)(0, 5, 6, 7), 24);
    EXPECT_EQ(ZB_EXPORT_OF(module, ListUSB)(0, 8, 9), 25);
    EXPECT_EQ(ZB_EXPORT_OF(module, OpenRS232DaisyChain)(0, 1, 2, 3, 4, 5), 26);
    ZB_EXPORT_OF(module, SetErrorCheck)(0, 1);
    ZB_EXPORT_OF(module, SetQMC)(0, 1, 2, 3);
    ZB_EXPORT_OF(module, GetQMC)(0, 4, 5, 6);
    ZB_EXPORT_OF(module, SetQMCA)(0, 1, 2, 3, 4);
    ZB_EXPORT_OF(module, GetQMCA)(0, 5, 6, 7, 8);
    ZB_EXPORT_OF(module, SendNonZELString)(0, 9);
    ZB_EXPORT_OF(module, ReceiveNonZELString)(0, 10, 11);
    ZB_EXPORT_OF(module, OpenUserStagesEditDialog)(0);
    ZB_EXPORT_OF(module, OpenQxStagesEditDialog)(0);
    ZB_EXPORT_OF(module, EnumerateUSB)(0, 1, 2, 3);
    ZB_EXPORT_OF(module, CloseDaisyChain)(0, 4);
    ZB_EXPORT_OF(module, CloseConnection)(0);
    ZB_EXPORT_OF(module, IsConnected)(0);

    EXPECT_EQ(Calls(), "full:DRV_ZelGetAnswerSize(2,ptr)\n"
                       "full:DRV_ZelGetAnswer(2,ptr,16)\n"
                       "full:DRV_GetError(2)\n"
                       "full:DRV_TranslateError(5,6,7)\n"
                       "full:DRV_ListUSB(8,9)\n"
                       "full:DRV_OpenRS232DaisyChain(1,2,3,4,5)\n"
                       "full:DRV_SetErrorCheck(2,1)\n"
                       "full:DRV_SetQMC(2,1,2,3)\n"
                       "full:DRV_GetQMC(2,4,5,6)\n"
                       "full:DRV_SetQMCA(2,1,2,3,4)\n"
                       "full:DRV_GetQMCA(2,5,6,7,8)\n"
                       "full:DRV_SendNonZELString(2,9)\n"
                       "full:DRV_ReceiveNonZELString(2,10,11)\n"
                       "full:DRV_OpenUserStagesEditDialog(2)\n"
                       "full:DRV_OpenQxStagesEditDialog(2)\n"
                       "full:DRV_EnumerateUSB(1,2,3)\n"
                       "full:DRV_CloseDaisyChain(4)\n"
                       "full:DRV_CloseConnection(2)\n"
                       "full:DRV_IsConnected(-1)\n");
}

TEST_F(GenericEntryPointsTest, AMissingFunctionIsReportedByTheNextGetError)
{
    ASSERT_EQ(defineSystem("drv_no_get_error.dll", "DRV_"), 0);
    const auto getError = ZB_EXPORT_OF(module, GetError);
    EXPECT_EQ(ZB_EXPORT_OF(module, Connect)(0, 1), -1);
    EXPECT_EQ(getError(0), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(getError(0), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(defineSystem("no_such_driver.dll", "DRV_"), -1);
    EXPECT_EQ(defineSystem("drv_enumerate.dll", "DRV_"), 1);
    script.SetResult("DRV_EnumerateUSB", 4);
    EXPECT_EQ(ZB_EXPORT_OF(module, ListUSB)(1, 2, 3), 4);
    EXPECT_NE(Calls().find("enumerate:DRV_EnumerateUSB(2,3,0)\n"), std::string::npos);
}

// Every generic entry point, called on an index that names no system.
void ExpectInvalidIndexResults(const ZelbridgeModule& module, int index)
{
    SCOPED_TRACE(index);
    char answer[4] = "abc";
    int size = 5;
    EXPECT_EQ(ZB_EXPORT_OF(module, InterfaceSetupDlg)(index, 1), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectRS232)(index, 1, 2), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectNIgpib)(index, 1, 2), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectTCPIP)(index, 1, 2), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, Connect)(index, 1), -1);
    EXPECT_EQ(module.Get<decltype(&::ConnectPciBoard)>(kConnectPciBoardExport)(index, 1), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectDaisyChainDevice)(index, 1, 2), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, OpenRS232DaisyChain)(index, 1, 2, 3, 4, 5), -1);
    EXPECT_EQ(ZB_EXPORT_OF(module, GetError)(index), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(ZB_EXPORT_OF(module, ConnectUSB)(index, 1), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, IsConnected)(index), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, TranslateError)(index, 1, 2, 3), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, SetErrorCheck)(index, 1), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, ZelCommandset)(index, "X"), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, ZelGetAnswer)(index, answer, sizeof answer), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, ZelGetAnswerSize)(index, &size), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, SetQMC)(index, 1, 2, 3), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, GetQMC)(index, 1, 2, 3), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, SetQMCA)(index, 1, 2, 3, 4), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, GetQMCA)(index, 1, 2, 3, 4), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, SendNonZELString)(index, 1), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, ReceiveNonZELString)(index, 1, 2), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, OpenUserStagesEditDialog)(index), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, OpenQxStagesEditDialog)(index), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, ListUSB)(index, 1, 2), 0);
    EXPECT_EQ(ZB_EXPORT_OF(module, EnumerateUSB)(index, 1, 2, 3), 0);
    ZB_EXPORT_OF(module, CloseConnection)(index);
    ZB_EXPORT_OF(module, CloseDaisyChain)(index, 1);
    EXPECT_STREQ(answer, "abc");
    EXPECT_EQ(size, 5);
}

TEST_F(GenericEntryPointsTest, AnIndexThatNamesNoSystemNeverReachesADriver)
{
    ExpectInvalidIndexResults(module, 0);
    ASSERT_EQ(defineSystem("drv_full.dll", "DRV_"), 0);
    script.ClearLog();
    ExpectInvalidIndexResults(module, -1);
    ExpectInvalidIndexResults(module, 1);
    ExpectInvalidIndexResults(module, 0x7fffffff);
    EXPECT_EQ(script.Log(), "");
}

} // namespace
} // namespace zelbridge
