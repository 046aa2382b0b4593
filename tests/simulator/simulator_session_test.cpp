// The simulator driven as an application drives it, through Zelbridge: the
// example stage over the generic API with Simulator.dll and over the M329_
// family with its simulated family library, bad description files on both,
// a delayed answer polled for, and connections used from several threads.
#include "api/driver_contract.h"
#include "platform/platform.h"
#include "simulated_clock.h"
#include "simulator_errors.h"
#include "test_environment.h"
#include "zelbridge.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace zelbridge::test {
namespace {

using namespace simulator;

constexpr char kOutOfLimits[] = "Position out of limits";

template <Operation operation> using Op = std::integral_constant<Operation, operation>;

std::string WriteFile(const std::string& name, const std::string& text)
{
    const std::string path = BinaryPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The calls an application makes on one connection, whichever API it uses.
struct StageCalls {
    std::function<int(const char*)> command;
    std::function<int(int*)> answerSize;
    std::function<int(char*, int)> answer;
    std::function<int()> error;
    std::function<int(int, char*, int)> translate;
};

enum class Api { Generic, M329 };

const char* NameOf(Api api)
{
    return api == Api::Generic ? "Generic" : "M329";
}

void PrintTo(Api api, std::ostream* out)
{
    *out << NameOf(api);
}

class SimulatedStage : public ::testing::TestWithParam<Api> {
protected:
    // Connects to the description at `path`, or without one to the example
    // stage, Simulator.json beside the library. The generic API names the
    // file to ConnectUSB; the family finds it through ZELBRIDGE_SIM, as the
    // family has no ConnectUSB. Returns the connect's result.
    int Connect(const std::string& path = "")
    {
        if (GetParam() == Api::Generic)
            return ConnectGeneric(path.empty() ? BinaryPath("Simulator.json") : path);
        installPath_.Set(BinaryDirectory() + PathSeparator() + SIMULATED_FAMILIES_FOLDER);
        if (!path.empty())
            SetEnvironment("ZELBRIDGE_SIM", path.c_str());
        const int id = ZB_EXPORT_OF(module_, M329_ConnectRS232)(1, 9600);
        calls_ = StageCalls{
            [=](const char* command) { return ZB_EXPORT_OF(module_, M329_ZelCommandset)(id, command); },
            [=](int* size) { return ZB_EXPORT_OF(module_, M329_ZelGetAnswerSize)(id, size); },
            [=](char* buffer, int size) { return ZB_EXPORT_OF(module_, M329_ZelGetAnswer)(id, buffer, size); },
            [=] { return ZB_EXPORT_OF(module_, M329_GetError)(id); },
            [=](int code, char* buffer, int size) {
                return ZB_EXPORT_OF(module_, M329_TranslateError)(code, reinterpret_cast<ZelWord>(buffer), size);
            }};
        return id;
    }

    int ConnectGeneric(const std::string& path)
    {
        const int index = ZB_EXPORT_OF(module_, DefineSystem)(ZELBRIDGE_SIMULATOR_FILE, "SIM_");
        EXPECT_GE(index, 0);
        calls_ = StageCalls{
            [=](const char* command) { return ZB_EXPORT_OF(module_, ZelCommandset)(index, command); },
            [=](int* size) { return ZB_EXPORT_OF(module_, ZelGetAnswerSize)(index, size); },
            [=](char* buffer, int size) { return ZB_EXPORT_OF(module_, ZelGetAnswer)(index, buffer, size); },
            [=] { return ZB_EXPORT_OF(module_, GetError)(index); },
            [=](int code, char* buffer, int size) {
                return ZB_EXPORT_OF(module_, TranslateError)(index, code, reinterpret_cast<ZelWord>(buffer), size);
            }};
        return ZB_EXPORT_OF(module_, ConnectUSB)(index, reinterpret_cast<ZelWord>(path.c_str()));
    }

    // The answer waiting after a command, or "(none)".
    std::string Answer()
    {
        int size = -1;
        EXPECT_EQ(calls_.answerSize(&size), 0);
        if (size <= 0)
            return "(none)";
        std::string buffer(static_cast<std::size_t>(size), 'x');
        EXPECT_EQ(calls_.answer(buffer.data(), size), 0);
        return buffer.c_str();
    }

    std::string Translate(int code)
    {
        char text[512] = {};
        EXPECT_EQ(calls_.translate(code, text, sizeof text), 0);
        return text;
    }

    ZelbridgeModule module_;
    ScopedInstallPath installPath_;
    StageCalls calls_;
};

// The clock the simulator runs on, stopped at a time the test sets.
class DrivenClock {
public:
    // `name` keeps the file apart from those of tests that may run at the same time.
    explicit DrivenClock(const std::string& name) : path_(BinaryPath("driven-clock-" + name)) { Set(0); }
    ~DrivenClock()
    {
        UnsetEnvironment(kClockVariable);
        std::remove(path_.c_str());
    }
    void Set(int milliseconds)
    {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << milliseconds << "\n";
        SetEnvironment(kClockVariable, path_.c_str());
    }

private:
    std::string path_;
};

TEST_P(SimulatedStage, AxesMoveStopAndResetOnTheDrivenClock)
{
    // GetError is not called after this step, so the error waits for the next.
    constexpr int kLeftUnread = 1;
    const struct {
        int atMs;
        const char* command;
        int result;
        const char* answer;
        int error;
    } session[] = {
        {0, "*IDN?", 0, "QX Motion,ST-200,SIM-0001,2.1.0", 0},
        {0, "identify?", 0, "QX Motion,ST-200,SIM-0001,2.1.0", 0},
        // X: 5 mm/s from the start to the end of a move.
        {0, "MOVE X 10", 0, "(none)", 0},
        {0, "ONT? X", 0, "0", 0},
        {1000, "POS? X", 0, "5.000 mm", 0},
        {1000, "MOVING? X", 0, "1", 0},
        {1999, "ON_TARGET? X", 0, "0", 0},
        {2000, "ONT? X", 0, "1", 0},
        {2000, "POSITION? X", 0, "10.000 mm", 0},
        {2000, "MOV X 0", 0, "(none)", 0},
        {4000, "MOV X 10", 0, "(none)", 0},
        {5500, "STOP X", 0, "(none)", 0},
        {9000, "POS? X", 0, "7.500 mm", 0},
        {9000, "MOV? X", 0, "0", 0},
        {9000, "ONT? X", 0, "1", 0},
        {9000, "MOVE X 80", 7, "(none)", 7},
        {9000, "MOV? X", 0, "0", 0},
        {10000, "POS? X", 0, "7.500 mm", 0},
        {10000, "MVR X -2.5", 0, "(none)", 0},
        {10000, "MVR X 50", 7, "(none)", 7},
        {10500, "POS? X", 0, "5.000 mm", 0},
        // Y: 10 mm/s, reached after 0.2 s at 50 mm/s^2: 1 mm up to speed, 1 mm braking.
        {11000, "MOVE Y 10", 0, "(none)", 0},
        {11100, "POS? Y", 0, "0.250 mm", 0},
        {11600, "POS? Y", 0, "5.000 mm", 0},
        {12100, "POS? Y", 0, "9.750 mm", 0},
        {12200, "ONT? Y", 0, "1", 0},
        {12200, "HOME Y", 0, "(none)", 0},
        {12800, "POS? Y", 0, "5.000 mm", 0},
        // The first error is the one GetError reports.
        {12800, "MOVE X 80", 7, "(none)", kLeftUnread},
        {12800, "HOME", kUnknownCommand, "(none)", 7},
        {12800, "MOVE X 20", 0, "(none)", 0},
        {13000, "RST", 0, "(none)", 0},
        {13000, "POS? X", 0, "0.000 mm", 0},
        {13000, "POS? Y", 0, "0.000 mm", 0},
        {13000, "MOV? Y", 0, "0", 0},
        // Too short to reach full speed: 0.1 s speeding up, 0.1 s braking.
        {13000, "MVR Y 0.5", 0, "(none)", 0},
        {13100, "POS? Y", 0, "0.250 mm", 0},
        {13199, "MOV? Y", 0, "1", 0},
        {13200, "POS? Y", 0, "0.500 mm", 0},
        {13200, "AXIS? 2", 0, "axis 2: linear, 100 mm travel", 0},
    };
    DrivenClock clock(NameOf(GetParam()));
    ASSERT_GE(Connect(), 0);
    for (const auto& step : session) {
        clock.Set(step.atMs);
        EXPECT_EQ(calls_.command(step.command), step.result) << step.atMs << " ms: " << step.command;
        EXPECT_EQ(Answer(), step.answer) << step.atMs << " ms: " << step.command;
        if (step.error != kLeftUnread) {
            EXPECT_EQ(calls_.error(), step.error) << step.atMs << " ms: " << step.command;
        }
    }
    EXPECT_EQ(Translate(7), kOutOfLimits);
    EXPECT_EQ(Translate(kUnknownCommand), "unknown command");
    EXPECT_EQ(Translate(FUNCTION_NOT_AVAILABLE), "function not available");
}

TEST_P(SimulatedStage, ABadDescriptionFileFailsTheConnectAndSaysWhereItIsWrong)
{
    const std::string api = NameOf(GetParam());
    const struct {
        const char* name;
        const char* text;
        int error;
        const char* where;
    } files[] = {
        {"syntax", "{\n  \"errors\": [\n    {\"code\": 7 \"text\": \"x\"}\n  ]\n}", kInvalidDescription,
         "\", line 3, column 21: syntax error while parsing object"},
        {"meaning", "{\n  \"errors\": [\n    {\"code\": 7, \"txt\": \"x\"}\n  ]\n}", kInvalidDescription,
         "\", line 3, column 24: /errors/0/txt is not known here"},
        {"missing", nullptr, kNoDescription, "\" cannot be opened"},
    };
    for (const auto& file : files) {
        const std::string name = "bad-" + api + "-" + file.name + ".json";
        const std::string path = file.text ? WriteFile(name, file.text) : BinaryPath(name);
        EXPECT_LT(Connect(path), 0) << file.name;
        EXPECT_EQ(calls_.error(), file.error) << file.name;
        const std::string text = Translate(file.error);
        EXPECT_NE(text.find("\"" + path + file.where), std::string::npos) << text;
    }
}

// The example-stage session of the issue: what each step gave, as one line.
std::vector<std::string> RunStageSession(SimulatedStage& stage, DrivenClock& clock, const StageCalls& calls,
                                         const char* changedMove = "MOVE X 10")
{
    const struct {
        int atMs;
        const char* command;
    } steps[] = {{0, "*IDN?"}, {0, changedMove}, {2000, "POS? X"}, {2000, "MOVE X 80"}, {2000, "ONT? X"}};
    std::vector<std::string> outcome;
    for (const auto& step : steps) {
        clock.Set(step.atMs);
        const int result = calls.command(step.command);
        int size = 0;
        calls.answerSize(&size);
        std::string answer(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        if (size > 0)
            calls.answer(answer.data(), size);
        const int error = calls.error();
        char text[512] = {};
        if (error != 0)
            calls.translate(error, text, sizeof text);
        outcome.push_back(std::string(step.command) + " => " + std::to_string(result) + " \"" + answer.c_str() +
                          "\" " + std::to_string(error) + " " + text);
    }
    static_cast<void>(stage);
    return outcome;
}

TEST_P(SimulatedStage, ARecordedSessionReplaysWithoutTheStageAndAChangedCommandFails)
{
    const std::string api = NameOf(GetParam());
    const std::string recording = BinaryPath("recorded-" + api + ".jsonl");
    std::remove(recording.c_str());
    DrivenClock clock("record-" + api);

    SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());
    module_.Reload();
    ASSERT_GE(Connect(), 0);
    const std::vector<std::string> recorded = RunStageSession(*this, clock, calls_);
    UnsetEnvironment("ZELBRIDGE_RECORD");
    UnsetEnvironment("ZELBRIDGE_SIM");
    EXPECT_EQ(recorded[3], "MOVE X 80 => 7 \"\" 7 " + std::string(kOutOfLimits));

    module_.Reload();
    ASSERT_GE(Connect(recording), 0);
    EXPECT_EQ(RunStageSession(*this, clock, calls_), recorded);

    module_.Reload();
    ASSERT_GE(Connect(recording), 0);
    const std::vector<std::string> changed = RunStageSession(*this, clock, calls_, "MOVE X 11");
    EXPECT_EQ(changed[1].rfind("MOVE X 11 => " + std::to_string(kReplayMismatch), 0), 0u) << changed[1];
    EXPECT_NE(changed[1].find("expected \"MOVE X 10\", came \"MOVE X 11\""), std::string::npos) << changed[1];
    UnsetEnvironment("ZELBRIDGE_SIM");
}

INSTANTIATE_TEST_SUITE_P(Api, SimulatedStage, ::testing::Values(Api::Generic, Api::M329),
                         [](const ::testing::TestParamInfo<Api>& api) { return NameOf(api.param); });

TEST(SimulatorDriver, ADelayedAnswerIsPolledForUntilItIsReady)
{
    const std::string path = WriteFile("delayed.json", R"({"commands": [
        {"command": "SOON?", "answer": "done", "delay_ms": 50},
        {"command": "LATER?", "answer": "never seen", "delay_ms": 86400000}]})");
    ZelbridgeModule module;
    const auto define = ZB_EXPORT_OF(module, DefineSystem);
    const auto connect = ZB_EXPORT_OF(module, ConnectUSB);
    const auto command = ZB_EXPORT_OF(module, ZelCommandset);
    const auto answerSize = ZB_EXPORT_OF(module, ZelGetAnswerSize);
    const auto answer = ZB_EXPORT_OF(module, ZelGetAnswer);
    const int soon = define(ZELBRIDGE_SIMULATOR_FILE, "SIM_");
    const int later = define(ZELBRIDGE_SIMULATOR_FILE, "SIM_");
    ASSERT_GE(connect(soon, reinterpret_cast<ZelWord>(path.c_str())), 0);
    ASSERT_GE(connect(later, reinterpret_cast<ZelWord>(path.c_str())), 0);

    char text[32] = "x";
    int size = -1;
    ASSERT_EQ(command(later, "LATER?"), 0);
    EXPECT_EQ(answerSize(later, &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(answer(later, text, sizeof text), kAnswerNotReady);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(ZB_EXPORT_OF(module, GetError)(later), kAnswerNotReady);

    ASSERT_EQ(command(soon, "SOON?"), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (answerSize(soon, &size) == 0 && size == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(size, 5);
    EXPECT_EQ(answer(soon, text, sizeof text), 0);
    EXPECT_STREQ(text, "done");
}

TEST(SimulatorDriver, ConnectionsUsedFromSeveralThreadsKeepTheirOwnState)
{
    const platform::ModuleHandle simulator = platform::OpenModule(BinaryPath(ZELBRIDGE_SIMULATOR_FILE).c_str());
    ASSERT_NE(simulator, nullptr);
    const auto find = [&](auto operation, const char* name) {
        return reinterpret_cast<DriverFunction<decltype(operation)::value>>(platform::FindSymbol(simulator, name));
    };
    const auto connect = find(Op<Operation::ConnectUSB>(), "SIM_ConnectUSB");
    const auto command = find(Op<Operation::ZelCommandset>(), "SIM_ZelCommandset");
    const auto answer = find(Op<Operation::ZelGetAnswer>(), "SIM_ZelGetAnswer");
    const auto getError = find(Op<Operation::GetError>(), "SIM_GetError");
    const auto close = find(Op<Operation::CloseConnection>(), "SIM_CloseConnection");
    ASSERT_TRUE(connect && command && answer && getError && close);

    const std::string stage = WriteFile("instant-stage.json", R"({
        "properties": [{"get": "POS? X", "set": "MOVE X {number}", "initial": 0, "min": -50, "max": 50,
                        "units": "mm", "decimals": 3, "limit_error": 7}],
        "errors": [{"code": 7, "text": "Position out of limits"}]})");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 25; ++round) {
                const int id = connect(reinterpret_cast<Word>(stage.c_str()));
                const std::string position = std::to_string(thread * 10 + round % 10) + ".000 mm";
                char text[64] = {};
                const bool same = command(id, ("MOVE X " + position.substr(0, position.find(' '))).c_str()) == 0 &&
                                  command(id, "MOVE X 99") == 7 && getError(id) == 7 && command(id, "POS? X") == 0 &&
                                  answer(id, text, sizeof text) == 0 && text == position;
                mismatches += same ? 0 : 1;
                close(id);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
    platform::CloseModule(simulator);
}

TEST(SimulatorDriver, TwoThreadsRecordTwoConnectionsAtOnceAndEachReplaysOnItsOwn)
{
    const std::string recording = BinaryPath("recorded-threads.jsonl");
    std::remove(recording.c_str());
    const std::string stage = BinaryPath("Simulator.json");
    // Connects two systems in a known order, then drives each from a thread of its own.
    const auto run = [](ZelbridgeModule& module, const std::string& file) {
        const auto define = ZB_EXPORT_OF(module, DefineSystem);
        const auto connect = ZB_EXPORT_OF(module, ConnectUSB);
        const auto command = ZB_EXPORT_OF(module, ZelCommandset);
        const auto answer = ZB_EXPORT_OF(module, ZelGetAnswer);
        std::vector<std::string> outcomes(2);
        std::vector<int> systems;
        for (int thread = 0; thread < 2; ++thread) {
            systems.push_back(define(ZELBRIDGE_SIMULATOR_FILE, "SIM_"));
            EXPECT_GE(connect(systems.back(), reinterpret_cast<ZelWord>(file.c_str())), 0);
        }
        std::vector<std::thread> threads;
        for (int thread = 0; thread < 2; ++thread) {
            threads.emplace_back([&, thread] {
                for (int round = 0; round < 20; ++round) {
                    char text[64] = {};
                    const std::string property = thread == 0 ? "LIMITS? X" : "AXES?";
                    const int result = command(systems[thread], property.c_str());
                    answer(systems[thread], text, sizeof text);
                    outcomes[thread] += std::to_string(result) + ":" + text + ";";
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        return outcomes;
    };
    SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());
    ZelbridgeModule module;
    const std::vector<std::string> recorded = run(module, stage);
    UnsetEnvironment("ZELBRIDGE_RECORD");
    module.Reload();
    EXPECT_EQ(run(module, recording), recorded);
    EXPECT_NE(recorded[0], recorded[1]);
}

} // namespace
} // namespace zelbridge::test
