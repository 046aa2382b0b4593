// What reaches the driver from each operation of a defined system, and what
// the system answers when the driver lacks a function.
#include "api/system_binding.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <string>

namespace zelbridge {
namespace {

using test::ScopedDriverScript;

class Driver {
public:
    explicit Driver(const char* fileName) : module_(platform::OpenModule(test::BinaryPath(fileName).c_str()))
    {
        EXPECT_NE(module_, nullptr) << fileName;
    }
    ~Driver() { platform::CloseModule(module_); }
    platform::ModuleHandle module() const { return module_; }

private:
    platform::ModuleHandle module_;
};

class SystemBindingTest : public ::testing::Test {
protected:
    // The log without the driver's own load line.
    std::string Calls() const
    {
        std::string log = script.Log();
        const std::string load = "full:load\n";
        return log.rfind(load, 0) == 0 ? log.substr(load.size()) : log;
    }

    ScopedDriverScript script;
    Driver full{"drv_full.dll"};
};

TEST_F(SystemBindingTest, ConnectResultsBecomeTheConnectionPassedToLaterCalls)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    EXPECT_EQ(system.IsConnected(), 0);

    script.SetResult("DRV_ConnectRS232", -5);
    EXPECT_EQ(system.ConnectRS232(1, 9600), -5);
    EXPECT_EQ(system.connectionId(), -5);
    system.ZelCommandset("*IDN?");

    script.SetResult("DRV_ConnectUSB", 2);
    EXPECT_EQ(system.ConnectUSB(77), 2);
    script.SetResult("DRV_SetQMCA", 31);
    EXPECT_EQ(system.SetQMCA(1, 2, 3, 4), 31);

    EXPECT_EQ(Calls(), "full:DRV_IsConnected(-1)\n"
                       "full:DRV_ConnectRS232(1,9600)\n"
                       "full:DRV_ZelCommandset(-5,\"*IDN?\")\n"
                       "full:DRV_ConnectUSB(77)\n"
                       "full:DRV_SetQMCA(2,1,2,3,4)\n");
}

TEST_F(SystemBindingTest, EveryConnectKindStoresItsResult)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_InterfaceSetupDlg", 1);
    script.SetResult("DRV_ConnectNIgpib", 2);
    script.SetResult("DRV_ConnectPciBoard", 3);
    script.SetResult("DRV_Connect", 4);
    script.SetResult("DRV_ConnectTCPIP", 5);
    script.SetResult("DRV_ConnectDaisyChainDevice", 6);

    EXPECT_EQ(system.InterfaceSetupDlg(10), 1);
    EXPECT_EQ(system.connectionId(), 1);
    EXPECT_EQ(system.ConnectNIgpib(0, 4), 2);
    EXPECT_EQ(system.connectionId(), 2);
    EXPECT_EQ(system.ConnectPciBoard(1), 3);
    EXPECT_EQ(system.connectionId(), 3);
    EXPECT_EQ(system.Connect(1), 4);
    EXPECT_EQ(system.connectionId(), 4);
    EXPECT_EQ(system.ConnectTCPIP(100, 50000), 5);
    EXPECT_EQ(system.connectionId(), 5);
    EXPECT_EQ(system.ConnectDaisyChainDevice(5, 2), 6);
    EXPECT_EQ(system.connectionId(), 6);
}

TEST_F(SystemBindingTest, ConnectionlessOperationsNeverPassTheConnection)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_ConnectRS232", 3);
    system.ConnectRS232(1, 2);
    script.ClearLog();

    system.TranslateError(-10, 20, 30);
    system.OpenRS232DaisyChain(1, 2, 3, 4, 5);
    system.CloseDaisyChain(8);
    system.ListUSB(6, 7);
    system.EnumerateUSB(6, 7, 8);

    EXPECT_EQ(script.Log(), "full:DRV_TranslateError(-10,20,30)\n"
                            "full:DRV_OpenRS232DaisyChain(1,2,3,4,5)\n"
                            "full:DRV_CloseDaisyChain(8)\n"
                            "full:DRV_ListUSB(6,7)\n"
                            "full:DRV_EnumerateUSB(6,7,8)\n");
    EXPECT_EQ(system.connectionId(), 3);
}

TEST_F(SystemBindingTest, PerConnectionOperationsPassTheConnectionFirst)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_ConnectTCPIP", 9);
    system.ConnectTCPIP(1, 2);
    script.SetAnswer("ANSWER", 6);
    script.SetResult("DRV_ZelGetAnswer", 1);
    script.ClearLog();

    char answer[32] = {};
    std::int32_t size = 0;
    system.SetErrorCheck(1);
    EXPECT_EQ(system.ZelGetAnswerSize(&size), 0);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(system.ZelGetAnswer(answer, sizeof answer), 1);
    EXPECT_STREQ(answer, "ANSWER");
    system.SetQMC(1, 2, 3);
    system.GetQMC(4, 5, 6);
    system.GetQMCA(1, 2, 3, 4);
    system.OpenUserStagesEditDialog();
    system.OpenQxStagesEditDialog();
    system.SendNonZELString(11);
    system.ReceiveNonZELString(12, 13);

    EXPECT_EQ(script.Log(), "full:DRV_SetErrorCheck(9,1)\n"
                            "full:DRV_ZelGetAnswerSize(9,ptr)\n"
                            "full:DRV_ZelGetAnswer(9,ptr,32)\n"
                            "full:DRV_SetQMC(9,1,2,3)\n"
                            "full:DRV_GetQMC(9,4,5,6)\n"
                            "full:DRV_GetQMCA(9,1,2,3,4)\n"
                            "full:DRV_OpenUserStagesEditDialog(9)\n"
                            "full:DRV_OpenQxStagesEditDialog(9)\n"
                            "full:DRV_SendNonZELString(9,11)\n"
                            "full:DRV_ReceiveNonZELString(9,12,13)\n");
}

TEST_F(SystemBindingTest, CloseConnectionResetsTheConnectionEvenWhenNeverConnected)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    system.CloseConnection();
    script.SetResult("DRV_Connect", 4);
    system.Connect(0);
    system.CloseConnection();
    EXPECT_EQ(system.connectionId(), -1);
    system.IsConnected();
    EXPECT_EQ(Calls(), "full:DRV_CloseConnection(-1)\n"
                       "full:DRV_Connect(0)\n"
                       "full:DRV_CloseConnection(4)\n"
                       "full:DRV_IsConnected(-1)\n");
}

TEST_F(SystemBindingTest, ReleasingASystemClosesItsConnectionOnce)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_ConnectNIgpib", 12);
    system.ConnectNIgpib(0, 1);
    script.ClearLog();
    system.Release();
    system.Release();
    EXPECT_FALSE(system.bound());
    EXPECT_EQ(script.Log(), "full:DRV_CloseConnection(12)\n");
}

TEST_F(SystemBindingTest, DriverResultsComeBackUnchanged)
{
    const OperationTable systemOperations(full.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_GetError", -77);
    script.SetResult("DRV_TranslateError", -1);
    script.SetResult("DRV_IsConnected", 0x7fffffff);
    EXPECT_EQ(system.GetError(), -77);
    EXPECT_EQ(system.TranslateError(1, 2, 3), -1);
    EXPECT_EQ(system.IsConnected(), 0x7fffffff);
}

TEST(SystemBindingMissingFunctions, ListUsbFallsBackToEnumerateFromZero)
{
    ScopedDriverScript script;
    Driver enumerate("drv_enumerate.dll");
    const OperationTable systemOperations(enumerate.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_EnumerateUSB", 5);

    EXPECT_EQ(system.ListUSB(8, 9), 5);
    EXPECT_EQ(script.Log(), "enumerate:load\nenumerate:DRV_EnumerateUSB(8,9,0)\n");
    // No error is left pending: GetError is missing too, so it reports that.
    EXPECT_EQ(system.GetError(), FUNCTION_NOT_AVAILABLE);
}

TEST(SystemBindingMissingFunctions, APendingErrorIsReportedOnceThenTheDriverIsAsked)
{
    ScopedDriverScript script;
    Driver full("drv_full.dll");
    const OperationTable systemOperations(full.module(), "NOPE_");
    SystemBinding system(systemOperations);
    // Only GetError comes from a driver that exports it.
    const OperationTable withGetErrorOperations(full.module(), "DRV_");
    SystemBinding withGetError(withGetErrorOperations);
    EXPECT_EQ(system.ListUSB(1, 2), -1);
    EXPECT_EQ(system.GetError(), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(system.GetError(), FUNCTION_NOT_AVAILABLE);

    Driver noGetError("drv_no_get_error.dll");
    const OperationTable partialOperations(noGetError.module(), "DRV_");
    SystemBinding partial(partialOperations);
    script.SetResult("DRV_ConnectRS232", 1);
    EXPECT_EQ(partial.ConnectRS232(1, 2), 1);
    EXPECT_EQ(partial.ZelCommandset("X"), 0);
    EXPECT_EQ(partial.GetError(), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(partial.GetError(), FUNCTION_NOT_AVAILABLE);

    script.SetResult("DRV_GetError", 42);
    EXPECT_EQ(withGetError.ZelCommandset(nullptr), 0);
    EXPECT_EQ(withGetError.GetError(), 42);
}

TEST(SystemBindingMissingFunctions, MissingOperationsGiveTheirFixedResults)
{
    ScopedDriverScript script;
    Driver empty("drv_empty.dll");
    const OperationTable systemOperations(empty.module(), "DRV_");
    SystemBinding system(systemOperations);
    char answer[8] = "keep";
    std::int32_t size = 99;

    EXPECT_EQ(system.InterfaceSetupDlg(1), -1);
    EXPECT_EQ(system.ConnectRS232(1, 2), -1);
    EXPECT_EQ(system.ConnectNIgpib(1, 2), -1);
    EXPECT_EQ(system.ConnectPciBoard(1), -1);
    EXPECT_EQ(system.Connect(1), -1);
    EXPECT_EQ(system.ConnectTCPIP(1, 2), -1);
    EXPECT_EQ(system.ConnectDaisyChainDevice(1, 2), -1);
    EXPECT_EQ(system.ConnectUSB(1), -1);
    EXPECT_EQ(system.connectionId(), -1);
    EXPECT_EQ(system.ListUSB(1, 2), -1);
    EXPECT_EQ(system.EnumerateUSB(1, 2, 3), -1);
    EXPECT_EQ(system.OpenRS232DaisyChain(1, 2, 3, 4, 5), -1);
    EXPECT_EQ(system.TranslateError(1, 2, 3), 0);
    EXPECT_EQ(system.IsConnected(), 0);
    EXPECT_EQ(system.SetErrorCheck(1), 0);
    EXPECT_EQ(system.ZelCommandset("X"), 0);
    EXPECT_EQ(system.ZelGetAnswer(answer, sizeof answer), 0);
    EXPECT_EQ(system.ZelGetAnswerSize(&size), 0);
    EXPECT_EQ(system.SetQMC(1, 2, 3), 0);
    EXPECT_EQ(system.GetQMC(1, 2, 3), 0);
    EXPECT_EQ(system.SetQMCA(1, 2, 3, 4), 0);
    EXPECT_EQ(system.GetQMCA(1, 2, 3, 4), 0);
    EXPECT_EQ(system.OpenUserStagesEditDialog(), 0);
    EXPECT_EQ(system.OpenQxStagesEditDialog(), 0);
    EXPECT_EQ(system.SendNonZELString(1), 0);
    EXPECT_EQ(system.ReceiveNonZELString(1, 2), 0);
    system.CloseDaisyChain(1);
    system.CloseConnection();
    EXPECT_STREQ(answer, "keep");
    EXPECT_EQ(size, 99);
    EXPECT_EQ(system.GetError(), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(script.Log(), "empty:load\n");
}

TEST(SystemBindingMissingFunctions, CloseConnectionMissingKeepsTheConnection)
{
    ScopedDriverScript script;
    Driver noGetError("drv_no_get_error.dll");
    Driver connectOnly("drv_connect.dll");
    const OperationTable systemOperations(noGetError.module(), "DRV_");
    SystemBinding system(systemOperations);
    script.SetResult("DRV_ConnectRS232", 6);
    system.ConnectRS232(0, 0);
    const OperationTable connectOperations(connectOnly.module(), "DRV_");
    SystemBinding connect(connectOperations);
    connect.CloseDaisyChain(1);
    EXPECT_EQ(connect.GetError(), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(system.connectionId(), 6);
}

TEST(SystemBindingMissingFunctions, APrefixTooLongForTheSymbolBufferResolvesNothing)
{
    ScopedDriverScript script;
    Driver full("drv_full.dll");
    // 231 characters plus the longest operation name fill the 255 characters exactly.
    const std::string longest(231, 'P');
    const std::string tooLong(232, 'P');
    const OperationTable fitsOperations(full.module(), longest.c_str());
    SystemBinding fits(fitsOperations);
    const OperationTable overflowsOperations(full.module(), tooLong.c_str());
    SystemBinding overflows(overflowsOperations);
    EXPECT_EQ(fitsOperations.prefix(), longest);
    EXPECT_EQ(overflows.OpenUserStagesEditDialog(), 0);
    EXPECT_EQ(overflows.GetError(), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(script.Log(), "full:load\n");
}

} // namespace
} // namespace zelbridge
