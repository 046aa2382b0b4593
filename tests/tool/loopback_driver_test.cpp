// The loopback driver's contract, called through its exports as the module
// calls them: identifiers, answers, errors and closed connections.
#include "api/driver_contract.h"
#include "loopback_errors.h"
#include "platform/platform.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace zelbridge {
namespace {

using namespace loopback;
using test::BinaryPath;

Word Text(const char* text)
{
    return reinterpret_cast<Word>(text);
}

class LoopbackDriver : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << BinaryPath(ZELBRIDGE_LOOPBACK_FILE); }
    void TearDown() override
    {
        if (module_)
            platform::CloseModule(module_);
    }

    template <Operation op, typename... Args> std::int32_t Call(Args... args)
    {
        const std::string name = std::string("LOOP_") + kOperationNames[static_cast<unsigned>(op)];
        const auto function = reinterpret_cast<DriverFunction<op>>(platform::FindSymbol(module_, name.c_str()));
        if (!function) {
            ADD_FAILURE() << "no export " << name;
            return 0;
        }
        return function(args...);
    }

    std::int32_t Rs232() { return Call<Operation::ConnectRS232>(1, 9600); }

    std::int32_t AnswerSize(ConnectionId id)
    {
        std::int32_t size = -1;
        EXPECT_EQ(Call<Operation::ZelGetAnswerSize>(id, &size), kNoError);
        return size;
    }

    // The next answer, or the error that fetching it gave.
    std::string Answer(ConnectionId id, std::int32_t capacity = 256)
    {
        std::string buffer(static_cast<std::size_t>(capacity), 'x');
        const std::int32_t result = Call<Operation::ZelGetAnswer>(id, buffer.data(), capacity);
        const std::string text = buffer.c_str();
        return result == kNoError ? text : "error " + std::to_string(result) + " [" + text + "]";
    }

    std::string Translate(std::int32_t code)
    {
        char text[128] = {};
        EXPECT_EQ(Call<Operation::TranslateError>(code, Text(text), sizeof text), kNoError);
        return text;
    }

    platform::ModuleHandle module_ = platform::OpenModule(BinaryPath(ZELBRIDGE_LOOPBACK_FILE).c_str());
};

TEST_F(LoopbackDriver, ExportsEveryOperationOfTheContract)
{
    for (const char* operation : kOperationNames)
        EXPECT_NE(platform::FindSymbol(module_, (std::string("LOOP_") + operation).c_str()), nullptr) << operation;
}

TEST_F(LoopbackDriver, ConnectsHandOutIdentifiersFromZeroThatAreNeverReused)
{
    EXPECT_EQ(Rs232(), 0);
    EXPECT_EQ(Call<Operation::ConnectTCPIP>(Text("localhost"), 5000), 1);
    Call<Operation::CloseConnection>(0);
    EXPECT_EQ(Call<Operation::IsConnected>(0), 0);
    EXPECT_EQ(Call<Operation::IsConnected>(1), 1);
    EXPECT_EQ(Call<Operation::ConnectUSB>(Text("LOOPBACK")), 2);
    EXPECT_EQ(Call<Operation::Connect>(3), 3);
    EXPECT_EQ(Call<Operation::InterfaceSetupDlg>(0), 4);
}

TEST_F(LoopbackDriver, ConnectsRejectBadArgumentsAndGetErrorGivesTheReasonOnce)
{
    EXPECT_EQ(Call<Operation::ConnectRS232>(0, 9600), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectRS232>(1, 1234), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectNIgpib>(0, 31), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectTCPIP>(0, 5000), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectTCPIP>(Text(""), 5000), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectTCPIP>(Text("localhost"), 65536), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectPciBoard>(-1), kInvalidArgument);
    EXPECT_EQ(Call<Operation::ConnectUSB>(Text("ELSEWHERE")), kNoSuchDevice);
    // The module passes the failed connect's result back as the identifier.
    EXPECT_EQ(Call<Operation::GetError>(kNoSuchDevice), kNoSuchDevice);
    EXPECT_EQ(Call<Operation::GetError>(kNoSuchDevice), kNotConnected);
    EXPECT_EQ(Rs232(), 0);
}

TEST_F(LoopbackDriver, AnswersComeBackInTheOrderTheCommandsWereSent)
{
    const ConnectionId id = Call<Operation::ConnectNIgpib>(0, 7);
    EXPECT_EQ(AnswerSize(id), 0);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "*IDN?"), kNoError);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "  echo  two words \r\n"), kNoError);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "LINK?"), kNoError);
    const std::string identification = "Zelbridge,Loopback,0,1.0";
    EXPECT_EQ(AnswerSize(id), static_cast<std::int32_t>(identification.size() + 1));
    EXPECT_EQ(Answer(id), identification);
    EXPECT_EQ(Answer(id), "two words");
    EXPECT_EQ(Answer(id), "gpib board 0, device 7");
    EXPECT_EQ(AnswerSize(id), 0);
    EXPECT_EQ(Answer(id), "error -202 []");
}

TEST_F(LoopbackDriver, AnAnswerThatDoesNotFitStaysQueuedAndTheBufferStaysTerminated)
{
    const ConnectionId id = Rs232();
    Call<Operation::ZelCommandset>(id, "ECHO hello");
    EXPECT_EQ(Answer(id, 3), "error -203 [he]");
    EXPECT_EQ(Call<Operation::GetError>(id), kBufferTooSmall);
    EXPECT_EQ(Answer(id, 6), "hello");
}

TEST_F(LoopbackDriver, FailedCommandsAreReportedOnceByGetErrorAndTranslated)
{
    const ConnectionId id = Rs232();
    EXPECT_EQ(Call<Operation::GetError>(id), kNoError);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "MOVE 10"), kUnknownCommand);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "*IDN? now"), kInvalidArgument);
    EXPECT_EQ(Call<Operation::GetError>(id), kInvalidArgument);
    EXPECT_EQ(Call<Operation::GetError>(id), kNoError);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, std::string(300, 'A').c_str()), kCommandTooLong);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, nullptr), kInvalidArgument);
    EXPECT_EQ(Translate(kUnknownCommand), "unknown command");
    EXPECT_EQ(Translate(FUNCTION_NOT_AVAILABLE), "function not available");
    EXPECT_EQ(Translate(-1035), "unknown error code -1035");
    EXPECT_EQ(Call<Operation::TranslateError>(kUnknownCommand, 0, 10), kInvalidArgument);
    // With error checking off, an unknown command is dropped without a word.
    EXPECT_EQ(Call<Operation::SetErrorCheck>(id, 0), kNoError);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "MOVE 10"), kNoError);
    EXPECT_EQ(AnswerSize(id), 0);
}

TEST_F(LoopbackDriver, TheAnswerQueueHasAFixedDepth)
{
    const ConnectionId id = Rs232();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Call<Operation::ZelCommandset>(id, ("ECHO " + std::to_string(i)).c_str()), kNoError);
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "ECHO 8"), kAnswerQueueFull);
    EXPECT_EQ(Answer(id), "0");
    EXPECT_EQ(Call<Operation::ZelCommandset>(id, "ECHO 8"), kNoError);
}

TEST_F(LoopbackDriver, CallsOnClosedOrUnknownIdentifiersFail)
{
    const ConnectionId id = Rs232();
    Call<Operation::ZelCommandset>(id, "ECHO pending");
    // What the module sends for a system that never connected.
    Call<Operation::CloseConnection>(-1);
    EXPECT_EQ(Call<Operation::IsConnected>(id), 1);
    Call<Operation::CloseConnection>(id);
    for (const ConnectionId stale : {id, 7}) {
        EXPECT_EQ(Call<Operation::IsConnected>(stale), 0);
        EXPECT_EQ(Call<Operation::ZelCommandset>(stale, "*IDN?"), kNotConnected);
        std::int32_t size = 99;
        EXPECT_EQ(Call<Operation::ZelGetAnswerSize>(stale, &size), kNotConnected);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(Answer(stale), "error -205 []");
        EXPECT_EQ(Call<Operation::SetErrorCheck>(stale, 1), kNotConnected);
        EXPECT_EQ(Call<Operation::GetError>(stale), kNotConnected);
    }
    // A new connection does not inherit the closed one's answers.
    EXPECT_EQ(AnswerSize(Rs232()), 0);
}

TEST_F(LoopbackDriver, DevicesOnADaisyChainCloseWithTheChain)
{
    const std::int32_t chain = Call<Operation::OpenRS232DaisyChain>(2, 19200, 0, 0, 0);
    ASSERT_EQ(chain, 0);
    const ConnectionId device = Call<Operation::ConnectDaisyChainDevice>(chain, 3);
    Call<Operation::ZelCommandset>(device, "LINK?");
    EXPECT_EQ(Answer(device), "daisy chain 0, device 3");
    EXPECT_EQ(Call<Operation::ConnectDaisyChainDevice>(chain, 17), kInvalidArgument);
    EXPECT_EQ(Call<Operation::CloseDaisyChain>(chain), kNoError);
    EXPECT_EQ(Call<Operation::IsConnected>(device), 0);
    EXPECT_EQ(Call<Operation::ConnectDaisyChainDevice>(chain, 3), kNotConnected);
}

TEST_F(LoopbackDriver, TextOutsideTheCommandSetComesStraightBack)
{
    const ConnectionId id = Rs232();
    char received[32] = {};
    EXPECT_EQ(Call<Operation::ReceiveNonZELString>(id, Text(received), sizeof received), kNoAnswer);
    EXPECT_EQ(Call<Operation::SendNonZELString>(id, Text("raw bytes")), kNoError);
    EXPECT_EQ(Call<Operation::ReceiveNonZELString>(id, Text(received), sizeof received), kNoError);
    EXPECT_STREQ(received, "raw bytes");
    EXPECT_EQ(Call<Operation::ReceiveNonZELString>(id, Text(received), sizeof received), kNoAnswer);
}

TEST_F(LoopbackDriver, UsbListsTheOneLoopbackDevice)
{
    char devices[16] = {};
    EXPECT_EQ(Call<Operation::ListUSB>(Text(devices), sizeof devices), 1);
    EXPECT_STREQ(devices, "LOOPBACK");
    EXPECT_EQ(Call<Operation::EnumerateUSB>(Text(devices), 4, 0), kBufferTooSmall);
    EXPECT_STREQ(devices, "LOO");
}

TEST_F(LoopbackDriver, ControllerFeaturesItLacksFailAsNotSupported)
{
    const ConnectionId id = Rs232();
    EXPECT_EQ(Call<Operation::SetQMC>(id, 1, 2, 3), kNotSupported);
    EXPECT_EQ(Call<Operation::GetQMCA>(id, 1, 2, 3, 4), kNotSupported);
    EXPECT_EQ(Call<Operation::OpenQxStagesEditDialog>(id), kNotSupported);
    EXPECT_EQ(Call<Operation::GetError>(id), kNotSupported);
    EXPECT_EQ(Call<Operation::SetQMC>(id + 1, 1, 2, 3), kNotConnected);
}

// Calls may come from any thread: four at once, each on connections of its
// own, connecting, asking, reading and closing.
TEST_F(LoopbackDriver, FourThreadsEachOnTheirOwnConnectionsNeverDisturbEachOther)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 5000;
    std::atomic<int> failures{0};
    std::string firstFailure;
    std::atomic_flag reported = ATOMIC_FLAG_INIT;
    const auto fail = [&](const std::string& what) {
        if (failures.fetch_add(1) == 0 && !reported.test_and_set())
            firstFailure = what;
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < kRounds; ++round) {
                const ConnectionId id = Call<Operation::Connect>(thread);
                if (id < 0) {
                    fail("connect: " + std::to_string(id));
                    continue;
                }
                const std::int32_t sent = Call<Operation::ZelCommandset>(id, "*IDN?");
                const std::string answer = Answer(id);
                if (sent != kNoError || answer != "Zelbridge,Loopback," + std::to_string(id) + ",1.0")
                    fail("query on " + std::to_string(id) + ": " + std::to_string(sent) + ", " + answer);
                if (Call<Operation::CloseConnection>(id) != kNoError)
                    fail("close " + std::to_string(id));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0) << "first: " << firstFailure;
}

} // namespace
} // namespace zelbridge
