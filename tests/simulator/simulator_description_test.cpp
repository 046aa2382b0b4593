// The simulator's description model in process: what a description makes a
// connection answer, when a delayed answer is ready, and where a bad
// description is wrong.
#include "description.h"
#include "session.h"
#include "simulator_errors.h"

#include <gtest/gtest.h>

#include <string>

namespace simulator {
namespace {

using namespace std::chrono_literals;

constexpr char kDescription[] = R"({
  "properties": [
    {"get": "POS?", "set": "MOVE {number}", "initial": 1.5, "min": -10, "max": 10, "limit_error": 7,
     "units": "mm", "decimals": 2},
    {"get": "GAIN?", "set": "GAIN {number}", "initial": 0.1}
  ],
  "commands": [
    {"command": "*IDN?", "answer": "SIM,1"},
    {"command": "SWAP {number} {number}", "answer": "{2},{1} {x}"},
    {"command": "SLOW?", "answer": "late", "delay_ms": 100},
    {"command": "NEXT? {number}", "answers": ["a{1}", "b", "c"], "source": "records 4, 9"},
    {"command": "MARK {number}", "answers": []}
  ],
  "errors": [
    {"code": 7, "text": "out of range"},
    {"code": -55, "text": "fault", "command": ["FAULT {number}", "move 9"]},
    {"code": 9, "text": "what?"}
  ],
  "unknown_command": {"error": 9}
})";

std::shared_ptr<const Description> Parsed(const char* text)
{
    const LoadedDescription loaded = ParseDescription(text, "test.json");
    EXPECT_TRUE(loaded.description) << loaded.reason;
    return loaded.description;
}

TEST(SimulatorDescription, CommandsDoWhatTheDescriptionSays)
{
    const struct {
        const char* command;
        std::int32_t result;
        // Null: the command queues no answer.
        const char* answer;
        std::int32_t error;
    } steps[] = {
        {"*IDN?", kNoError, "SIM,1", kNoError},
        {"  *idn? \r\n", kNoError, "SIM,1", kNoError},
        {"POS?", kNoError, "1.50 mm", kNoError},
        {"move   -10", kNoError, nullptr, kNoError},
        {"POS?", kNoError, "-10.00 mm", kNoError},
        {"MOVE 10.001", 7, nullptr, 7},
        {"POS?", kNoError, "-10.00 mm", kNoError},
        {"MOVE +2.5e0", kNoError, nullptr, kNoError},
        {"POS?", kNoError, "2.50 mm", kNoError},
        {"GAIN?", kNoError, "0.1", kNoError},
        {"GAIN -0", kNoError, nullptr, kNoError},
        {"GAIN?", kNoError, "0", kNoError},
        {"SWAP 1 -2.50", kNoError, "-2.50,1 {x}", kNoError},
        {"SWAP 1", 9, nullptr, 9},
        {"MOVE 1x", 9, nullptr, 9},
        {"MOVE 1e999", 9, nullptr, 9},
        {"FAULT 3", -55, nullptr, -55},
        // A command written out in full comes before the setter's pattern.
        {"MOVE  9", -55, nullptr, -55},
        {"POS?", kNoError, "2.50 mm", kNoError},
        {"NEXT? 1", kNoError, "a1", kNoError},
        {"NEXT? 2", kNoError, "b", kNoError},
        {"MARK 3", kNoError, nullptr, kNoError},
        {"NEXT? 3", kNoError, "c", kNoError},
        {"NEXT? 4", kNoError, "a4", kNoError},
    };
    Session session(Parsed(kDescription));
    const Clock::time_point now{};
    for (const auto& step : steps) {
        EXPECT_EQ(session.Execute(step.command, now), step.result) << step.command;
        bool waiting = true;
        const std::string* answer = session.ReadyAnswer(now, waiting);
        EXPECT_EQ(answer ? *answer : "(none)", step.answer ? step.answer : "(none)") << step.command;
        session.DropAnswer();
        EXPECT_EQ(session.TakeError(), step.error) << step.command;
    }

    // With error checking off a command reports success, and GetError the error.
    session.SetErrorCheck(false);
    EXPECT_EQ(session.Execute("MOVE 20", now), kNoError);
    EXPECT_EQ(session.TakeError(), 7);
    EXPECT_EQ(session.TakeError(), kNoError);

    for (std::size_t i = 0; i < Session::kMostPendingAnswers; ++i)
        ASSERT_EQ(session.Execute("*IDN?", now), kNoError);
    EXPECT_EQ(session.Execute("*IDN?", now), kAnswerQueueFull);
}

TEST(SimulatorDescription, ADelayedAnswerIsReadyOnlyAfterItsDelayAndHoldsBackLaterOnes)
{
    Session session(Parsed(kDescription));
    const Clock::time_point sent{};
    ASSERT_EQ(session.Execute("SLOW?", sent), kNoError);
    ASSERT_EQ(session.Execute("*IDN?", sent), kNoError);
    bool waiting = false;
    EXPECT_EQ(session.ReadyAnswer(sent + 99ms, waiting), nullptr);
    EXPECT_TRUE(waiting);
    const std::string* answer = session.ReadyAnswer(sent + 100ms, waiting);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(*answer, "late");
    session.DropAnswer();
    answer = session.ReadyAnswer(sent + 100ms, waiting);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(*answer, "SIM,1");
}

TEST(SimulatorDescription, ABadDescriptionIsReportedWithLineColumnAndReason)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"", "line 1, column 1: syntax error while parsing value - unexpected end of input"},
        {"{\n  \"commands\": [\n    {\"command\": \"A\" \"answer\": \"B\"}\n  ]\n}",
         "line 3, column 28: syntax error while parsing object - unexpected string literal"},
        {R"({"errors": [], "errors": []})", "line 1, column 16: the key \"errors\" is given twice in one object"},
        {"[]", "line 1, column 1: the description must be an object, not array"},
        {"{\n \"properties\": [\n  {\"get\": \"P?\", \"set\": \"P {number}\", \"initial\": 0, \"unit\": \"mm\"}]}",
         "line 3, column 60: /properties/0/unit is not known here; use one of: get, set, initial, min, max"},
        {R"({"errors": [{"code": "7", "text": "x"}]})",
         "line 1, column 22: /errors/0/code must be a whole number from -2147483648 to 2147483647, not string"},
        {R"({"commands": [{"command": "A"}]})", "line 1, column 15: /commands/0 lacks \"answer\""},
        {R"({"properties": [{"get": "P?", "set": "P {number}", "initial": 0, "max": 5}]})",
         "column 17: /properties/0 has limits but lacks \"limit_error\""},
        {R"({"properties": [{"get": "P?", "set": "P {number}", "initial": 9, "max": 5, "limit_error": 1}]})",
         "column 63: /properties/0/initial lies outside \"min\" and \"max\""},
        {R"({"properties": [{"get": "P?", "set": "P {number}", "initial": 0, "max": 5, "limit_error": 3}]})",
         "column 91: /properties/0/limit_error names the code 3, which \"errors\" does not describe"},
        {R"({"properties": [{"get": "P?", "set": "P", "initial": 0}]})",
         "column 38: /properties/0/set must have 1 {number} field(s), not 0"},
        {R"({"properties": [{"get": "P?", "set": "P {number}", "initial": 1e999}]})",
         "column 67: number overflow parsing '1e999'"},
        {R"({"errors": [{"code": -301, "text": "x"}]})", "column 22: /errors/0/code may not be -301, the simulator's own"},
        {R"({"errors": [{"code": 0, "text": "x"}]})", "/errors/0/code may not be 0"},
        {R"({"errors": [{"code": 4, "text": "x"}, {"code": 4, "text": "y"}]})",
         "column 48: /errors/1/code repeats the code 4"},
        {R"({"commands": [{"command": "MOVE {num}", "answer": ""}]})",
         "column 27: /commands/0/command is not a command: a \"{\" in a command must open a {number} field"},
        {R"({"commands": [{"command": "A {number}", "answer": "{2}"}]})",
         "column 51: /commands/0/answer quotes {2}, but its command has 1 {number} field(s)"},
        {R"({"commands": [{"command": "a  b", "answer": ""}, {"command": "A B", "answer": ""}]})",
         "column 62: /commands/1/command repeats the command \"A B\" of /commands/0/command"},
        {R"({"unknown_command": {}})", "column 21: /unknown_command needs either \"answer\" or \"error\""},
        {R"({"properties": [{"get": "P?", "set": "P {number}"}]})",
         "column 17: /properties/0 lacks \"initial\", which must be a number: the value before any command"},
        {R"({"commands": [{"command": "A"}]})",
         "column 15: /commands/0 lacks \"answer\", which must be a string: the text the command answers"},
        {R"({"errors": [{"code": 7.5, "text": "x"}]})",
         "column 22: /errors/0/code must be a whole number from -2147483648 to 2147483647, not 7.5"},
        {R"({"errors": [{"code": 99999999999999999999, "text": "x"}]})",
         "column 22: /errors/0/code must be a whole number from -2147483648 to 2147483647, not 1e+20"},
        {R"({"errors": [{"code": 9, "text": "x"}], "unknown_command": {"answer": "?", "error": 9}})",
         "column 59: /unknown_command takes \"answer\" or \"error\", not both"},
        {R"({"commands": [{"command": "A {number}", "answer": "{0}"}]})",
         "column 51: /commands/0/answer quotes {0}, but the numbers of a command count from {1}"},
        {R"({"axes": [{"name": "X", "min": 0, "max": 1, "initial": 0, "limit_error": 7}]})",
         "column 11: /axes/0 lacks \"velocity\", which must be a number above 0"},
        {R"({"errors": [{"code": 7, "text": "x"}], "axes": [{"name": "X", "min": 0, "max": 1, "initial": 0,
             "velocity": 1, "acceleration": 0, "limit_error": 7}]})",
         "line 2, column 45: /axes/0/acceleration must be a number above 0, not 0"},
        {R"({"errors": [{"code": 7, "text": "x"}], "axes": [{"name": "X", "min": 0, "max": 1, "initial": 0,
             "home_position": 2, "velocity": 1, "limit_error": 7, "stop": []}]})",
         "line 2, column 31: /axes/0/home_position lies outside \"min\" and \"max\""},
        {R"({"errors": [{"code": 7, "text": "x"}], "axes": [{"name": "X", "min": 0, "max": 1, "initial": 0,
             "velocity": 1, "limit_error": 7, "move": ["MOV X {number}", "MOV X"]}]})",
         "line 2, column 55: /axes/0/move/1 must have 1 {number} field(s), not 0"},
        {R"({"reset": []})",
         "column 11: /reset must list at least one form of the command"},
        {R"({"commands": [{"command": ["A", "a"], "answer": ""}]})",
         "column 27: /commands/0/command/1 repeats the command \"a\" of /commands/0/command/0"},
        {R"({"commands": [{"command": "A", "answer": "x", "answers": []}]})",
         "column 58: /commands/0/answers stands instead of \"answer\", not beside it"},
        {R"({"commands": [{"command": "A", "answers": [], "delay_ms": 5}]})",
         "column 59: /commands/0/delay_ms applies to an answer, and \"answers\" lists none"},
        {R"({"commands": [{"command": "A", "answers": ["{1}"]}]})",
         "column 43: /commands/0/answers/0 quotes {1}, but its command has 0 {number} field(s)"},
        {R"({"reset": "RST", "source": "x"})", "column 28: /source is not known here"},
        {R"({"commands": [{"command": "A", "answer": "", "source": 1}]})",
         "column 56: /commands/0/source must be a string, not number"},
        {R"({"commands": [{"command": "A", "answer": "x\u0000y"}]})",
         "column 42: /commands/0/answer has a zero byte at character 2, which would end the text there"},
    };
    for (const auto& bad : cases) {
        const LoadedDescription loaded = ParseDescription(bad.text, "bad.json");
        EXPECT_EQ(loaded.description, nullptr) << bad.text;
        EXPECT_EQ(loaded.failure, kInvalidDescription) << bad.text;
        EXPECT_EQ(loaded.reason.rfind("\"bad.json\", line ", 0), 0u) << loaded.reason;
        EXPECT_NE(loaded.reason.find(bad.message), std::string::npos) << bad.message << "\n" << loaded.reason;
    }
}

} // namespace
} // namespace simulator
