// The recording reader and a replaying connection in process: what a
// recording holds per connection, answers as late as recorded when asked,
// a command past the end, and records the reader refuses by number.
#include "recording/recording_reader.h"
#include "session.h"
#include "simulator_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace simulator {
namespace {

using zelbridge::recording::IsRecording;
using zelbridge::recording::ParseRecording;

// Two family connections made in turn; the first answers 40 ms late and
// raises error 7 once with error checking off.
constexpr char kRecording[] =
    R"({"t":0,"thread":1,"entry":"M329_ConnectRS232","args":[1,9600],"result":3})"
    "\n"
    R"({"t":1,"thread":1,"entry":"M329_ConnectRS232","args":[1,9600],"result":4})"
    "\n"
    R"({"t":2,"thread":1,"entry":"M329_ZelCommandset","args":[3,"POS?\u00b5"],"result":0})"
    "\n"
    R"({"t":42,"thread":1,"entry":"M329_ZelGetAnswer","args":[3],"result":0,"answer":"1.5 \u00b5m"})"
    "\n"
    R"({"t":43,"thread":1,"entry":"M329_ZelCommandset","args":[4,"MOVE X 80"],"result":0})"
    "\n"
    R"({"t":44,"thread":1,"entry":"M329_GetError","args":[4],"result":7})"
    "\n"
    R"({"t":45,"thread":1,"entry":"M329_TranslateError","args":[7],"result":0,"answer":"Position out of limits"})"
    "\n";

TEST(SimulatorRecording, ConnectionsReplayTheirOwnCommandsWithRecordedAnswersErrorsAndDelays)
{
    const LoadedRecording loaded = ParseRecording(kRecording, "session.jsonl");
    ASSERT_TRUE(loaded.recording) << loaded.reason;
    const Recording& recording = *loaded.recording;
    ASSERT_EQ(recording.connections.size(), 2u);
    EXPECT_EQ(recording.errors.at(7), "Position out of limits");

    auto errors = std::make_shared<Description>();
    const Clock::time_point start{};
    for (const bool recordedDelays : {false, true}) {
        Session first(errors, recording.connections[0], recordedDelays);
        EXPECT_EQ(first.Execute(" POS?\xb5 ", start), kNoError);
        bool waiting = false;
        const std::string* answer = first.ReadyAnswer(start + std::chrono::milliseconds(39), waiting);
        EXPECT_EQ(answer == nullptr, recordedDelays);
        answer = first.ReadyAnswer(start + std::chrono::milliseconds(40), waiting);
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(*answer, "1.5 \xb5m");
        EXPECT_EQ(first.Execute("POS?\xb5", start), kReplayMismatch);
        EXPECT_NE(first.mismatch().find("no command after record 3"), std::string::npos) << first.mismatch();
        EXPECT_EQ(first.TakeError(), kReplayMismatch);
    }
    Session second(errors, recording.connections[1], false);
    EXPECT_EQ(second.Execute("MOVE X 80", start), kNoError);
    EXPECT_EQ(second.TakeError(), 7);
    // A command without a text replays nothing, and the error after it is not the previous command's.
    const LoadedRecording noText = ParseRecording(
        std::string(kRecording) + R"({"t":46,"thread":1,"entry":"M329_ZelCommandset","args":[4,null],"result":0})" "\n"
                                  R"({"t":47,"thread":1,"entry":"M329_GetError","args":[4],"result":5})" "\n",
        "session.jsonl");
    ASSERT_TRUE(noText.recording) << noText.reason;
    EXPECT_EQ(noText.recording->connections[1]->commands.size(), 1u);
    EXPECT_EQ(noText.recording->connections[1]->commands.back().error, 7);
    EXPECT_FALSE(IsRecording(R"({"commands": []})"));
    EXPECT_TRUE(IsRecording(kRecording));
}

// A help text read line by line: more answers to one command than a
// description's connection may owe, all of which the controller gave.
TEST(SimulatorRecording, ACommandReplaysEveryAnswerItWasRecordedWith)
{
    std::string text = R"({"t":0,"thread":1,"entry":"DefineSystem","args":["s","SIM_"],"result":0})" "\n"
                       R"({"t":0,"thread":1,"entry":"ConnectUSB","system":0,"args":["x"],"result":0})" "\n"
                       R"({"t":0,"thread":1,"entry":"ZelCommandset","system":0,"args":["HLP?"],"result":0})" "\n";
    const std::size_t lines = Session::kMostPendingAnswers + 1;
    for (std::size_t i = 0; i < lines; ++i)
        text += R"({"t":1,"thread":1,"entry":"ZelGetAnswer","system":0,"args":[],"result":0,"answer":"line"})" "\n";
    const LoadedRecording loaded = ParseRecording(text, "help.jsonl");
    ASSERT_TRUE(loaded.recording) << loaded.reason;
    Session session(std::make_shared<Description>(), loaded.recording->connections.at(0), false);
    EXPECT_EQ(session.Execute("HLP?", {}), kNoError);
    std::size_t answers = 0;
    bool waiting = false;
    for (; session.ReadyAnswer({}, waiting); session.DropAnswer())
        ++answers;
    EXPECT_EQ(answers, lines);
    EXPECT_EQ(session.TakeError(), kNoError);
}

// Edited and torn records: each is named with its number, offset and kind,
// and the records around it are read as if it were not there.
TEST(SimulatorRecording, EveryRecordIsReadOrNamedAndATornLineLosesOnlyItself)
{
    using zelbridge::recording::FaultKind;
    const std::string session = R"({"format":"zelbridge-recording","version":1,"pid":100,"started":"x"})";
    const std::string define = R"({"pid":100,"t":0,"thread":1,"entry":"DefineSystem","args":["s","SIM_"],"result":0})";
    const std::string connect = R"({"pid":100,"t":0,"thread":1,"entry":"ConnectUSB","system":0,"args":["x"],"result":0})";
    const std::string command = R"({"pid":100,"t":1,"thread":1,"entry":"ZelCommandset","system":0,"args":["*IDN?"],"result":0})";
    const std::string size = R"({"pid":100,"t":2,"thread":1,"entry":"ZelGetAnswerSize","system":0,"args":[],"result":0,"size":5})";
    const std::string answer = R"({"pid":100,"t":3,"thread":1,"entry":"ZelGetAnswer","system":0,"args":[],"result":0,"answer":"QX M"})";
    const std::string head = session + "\n" + define + "\n" + connect + "\n";
    const struct {
        const char* name;
        std::string edited; // the fifth line
        FaultKind kind;
        const char* reason;
    } cases[] = {
        {"a command moved to a process without a session",
         R"({"pid":999,"t":1,"thread":1,"entry":"ZelCommandset","system":0,"args":["MOVE X 10"],"result":0})",
         FaultKind::kOutOfPlace, "process 999 has no session record before this one"},
        {"a command moved to a system never defined",
         R"({"pid":100,"t":1,"thread":1,"entry":"ZelCommandset","system":3,"args":["MOVE X 10"],"result":0})",
         FaultKind::kOutOfPlace, "system 3 was never defined in process 100"},
        {"an error asked of a system never defined",
         R"({"pid":100,"t":1,"thread":1,"entry":"GetError","system":3,"args":[],"result":7})", FaultKind::kOutOfPlace,
         "system 3 was never defined in process 100"},
        {"a misspelt entry", R"({"pid":100,"t":1,"thread":1,"entry":"ZelGetAnswerSise","system":0,"args":[],"result":0})",
         FaultKind::kInvalid, "\"entry\" names no entry point the module records: \"ZelGetAnswerSise\""},
        {"a size that disagrees with its answer", command + "\n" + size + "\n" + answer.substr(0, answer.size() - 6) + "QX Motion\"}",
         FaultKind::kOutOfPlace, "the answer is 9 characters long, but record 5 recorded its size as 5"},
        {"a member the schema does not allow",
         R"({"pid":100,"t":1,"thread":1,"entry":"GetError","system":0,"args":[],"result":0,"extra":1})",
         FaultKind::kInvalid, "\"extra\" is not a member of a call record"},
        {"a negative time", R"({"pid":100,"t":-1,"thread":1,"entry":"GetError","system":0,"args":[],"result":0})",
         FaultKind::kInvalid, "\"t\" must be a number of milliseconds, 0 or more"},
        {"a result that is not a number",
         R"({"pid":100,"t":1,"thread":1,"entry":"GetError","system":0,"args":[],"result":"7"})", FaultKind::kInvalid,
         "\"result\" must be a whole number"},
        {"a command without text", R"({"pid":100,"t":1,"thread":1,"entry":"ZelCommandset","system":0,"args":[2],"result":0})",
         FaultKind::kInvalid, "a command is recorded as text"},
        {"not an object", "[1]", FaultKind::kInvalid, "a record is an object"},
        {"a torn record", command.substr(0, 40), FaultKind::kUnreadable, "the record is cut short after 40 characters"},
        {"a record appended onto a torn one", command.substr(0, 40) + command, FaultKind::kUnreadable,
         "cut short after 40 characters, and the next record was written onto it"},
    };
    for (const auto& edit : cases) {
        SCOPED_TRACE(edit.name);
        const std::string text = head + edit.edited + "\n" + command + "\n" + answer + "\n";
        const LoadedRecording loaded = ParseRecording(text, "edited.jsonl");
        ASSERT_TRUE(loaded.recording) << loaded.reason;
        const Recording& recording = *loaded.recording;
        ASSERT_EQ(recording.faults.size(), 1u);
        const auto& fault = recording.faults.front();
        const auto lines = static_cast<std::size_t>(std::count(edit.edited.begin(), edit.edited.end(), '\n'));
        EXPECT_EQ(fault.record, 4 + lines);
        EXPECT_EQ(fault.kind, edit.kind);
        EXPECT_EQ(fault.offset, text.find(edit.edited.substr(edit.edited.rfind('\n') + 1)));
        EXPECT_NE(fault.reason.find(edit.reason), std::string::npos) << fault.reason;
        // The rest reads on: the command after the fault, with its answer,
        // and the appended record too.
        ASSERT_EQ(recording.connections.size(), 1u);
        const std::size_t commands = edit.edited.find(command) == std::string::npos ? 1 : 2;
        ASSERT_EQ(recording.connections[0]->commands.size(), commands);
        EXPECT_EQ(recording.connections[0]->commands.back().answers.size(), 1u);
    }
    const LoadedRecording refused = ParseRecording(R"({"format":"zelbridge-recording","version":2,"pid":1})", "v2.jsonl");
    EXPECT_FALSE(refused.recording);
    EXPECT_NE(refused.reason.find("\"v2.jsonl\", record 1: the recording is in version 2"), std::string::npos);
    // A call on no system, recorded with what the module answers for one, is
    // what the application did: read, not named.
    const LoadedRecording noSystem =
        ParseRecording(head + R"({"pid":100,"t":1,"thread":1,"entry":"GetError","system":-1,"args":[],"result":-1034})",
                       "no-system.jsonl");
    ASSERT_TRUE(noSystem.recording);
    EXPECT_TRUE(noSystem.recording->faults.empty()) << noSystem.recording->faults.front().reason;
    EXPECT_EQ(noSystem.recording->counts.generic, 3u);
    EXPECT_EQ(noSystem.recording->counts.sessions, 1u);
}

} // namespace
} // namespace simulator
