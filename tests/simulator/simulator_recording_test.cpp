// The recording reader and a replaying connection in process: what a
// recording holds per connection, answers as late as recorded when asked,
// a command past the end, and records the reader refuses by number.
#include "recording/recording_reader.h"
#include "session.h"
#include "simulator_errors.h"

#include <gtest/gtest.h>

#include <string>

namespace simulator {
namespace {

using zelbridge::recording::IsRecording;
using zelbridge::recording::ParseRecording;

// Two family connections made in turn; the first answers 40 ms late and
// raises error 7 once with error checking off.
constexpr char kRecording[] =
    R"({"t":0,"entry":"M329_ConnectRS232","args":[1,9600],"result":3})"
    "\n"
    R"({"t":1,"entry":"M329_ConnectRS232","args":[1,9600],"result":4})"
    "\n"
    R"({"t":2,"entry":"M329_ZelCommandset","args":[3,"POS?\u00b5"],"result":0})"
    "\n"
    R"({"t":42,"entry":"M329_ZelGetAnswer","args":[3],"result":0,"answer":"1.5 \u00b5m"})"
    "\n"
    R"({"t":43,"entry":"M329_ZelCommandset","args":[4,"MOVE X 80"],"result":0})"
    "\n"
    R"({"t":44,"entry":"M329_GetError","args":[4],"result":7})"
    "\n"
    R"({"t":45,"entry":"M329_TranslateError","args":[7],"result":0,"answer":"Position out of limits"})"
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
        std::string(kRecording) + R"({"entry":"M329_ZelCommandset","args":[4,null],"result":0})" "\n"
                                  R"({"entry":"M329_GetError","args":[4],"result":5})" "\n",
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
    std::string text = "{\"entry\":\"ConnectUSB\",\"system\":0,\"result\":0}\n"
                       "{\"entry\":\"ZelCommandset\",\"system\":0,\"args\":[\"HLP?\"],\"result\":0}\n";
    const std::size_t lines = Session::kMostPendingAnswers + 1;
    for (std::size_t i = 0; i < lines; ++i)
        text += "{\"entry\":\"ZelGetAnswer\",\"system\":0,\"result\":0,\"answer\":\"line\"}\n";
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

TEST(SimulatorRecording, ARecordTheReaderCannotUseIsNamedByItsNumber)
{
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"{\"entry\":\"GetError\",\"system\":0,\"result\":0}\n{\"entry\":", "record 2: "},
        {"{\"entry\":\"Connect\",\"system\":1,\"result\":1}\n\n{\"entry\":\"ZelCommandset\",\"system\":1,\"args\":[2]}",
         "record 3: a command is recorded as text"},
        {"[1]", "record 1: a record is an object"},
        {"{\"entry\":\"GetError\",\"system\":1.5}", "record 1: \"system\" must be a whole number"},
    };
    for (const auto& bad : cases) {
        const LoadedRecording loaded = ParseRecording(bad.text, "bad.jsonl");
        EXPECT_FALSE(loaded.recording) << bad.text;
        EXPECT_NE(loaded.reason.find(std::string("\"bad.jsonl\", ") + bad.reason), std::string::npos) << loaded.reason;
    }
}

} // namespace
} // namespace simulator
