// What describe derives from small recordings made for each rule, and what
// it says it could not derive; every description it makes must load in the
// simulator. And a trace's TIMER lines as timeline slices, across a wrap of
// the tick count.
#include "describe/call_records.h"
#include "describe/derived_description.h"
#include "description.h"
#include "timeline/trace_events.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool {
namespace {

using json = nlohmann::json;

struct Step {
    const char* command;
    // Null: no answer read.
    const char* answer = nullptr;
    int error = 0;
};

// A recording of one generic connection: each command, its answer and the
// error GetError reported, with the error texts of `texts`.
std::string RecordingOf(const std::vector<Step>& steps, const std::vector<std::pair<int, const char*>>& texts = {})
{
    std::string lines = R"({"format":"zelbridge-recording","version":1,"pid":7,"started":"2026-12-09T10:00:00Z"})"
                        "\n"
                        R"({"pid":7,"t":0,"thread":1,"entry":"DefineSystem","args":["Simulator.dll","SIM_"],"result":0})"
                        "\n"
                        R"({"pid":7,"t":1,"thread":1,"entry":"ConnectUSB","system":0,"args":["stage.json"],"result":0})"
                        "\n";
    const auto call = [&](const std::string& rest) {
        lines += R"({"pid":7,"t":2,"thread":1,"system":0,)" + rest + "}\n";
    };
    for (const Step& step : steps) {
        call(R"("entry":"ZelCommandset","args":[)" + json(step.command).dump() + R"(],"result":)" +
             std::to_string(step.error));
        if (step.answer)
            call(R"("entry":"ZelGetAnswer","args":[],"result":0,"answer":)" + json(step.answer).dump());
        call(R"("entry":"GetError","args":[],"result":)" + std::to_string(step.error));
    }
    for (const auto& [code, text] : texts)
        call(R"("entry":"TranslateError","args":[)" + std::to_string(code) + R"(],"result":0,"answer":)" +
             json(text).dump());
    return lines;
}

TEST(DescribeDerivation, EachRuleGivesItsEntryAndWhatCannotBeDerivedIsSaid)
{
    const struct {
        const char* name;
        std::string recording;
        // A member of the description and what it must be.
        const char* pointer;
        json expected;
        // A note it must make; empty for none expected.
        const char* note;
    } cases[] = {
        {"answers that differ are given in turn",
         RecordingOf({{"POS? X", "1.0 mm"}, {"POS? X", "2.0 mm"}, {"POS? X", "1.0 mm"}}), "/commands/0/answers",
         json::array({"1.0 mm", "2.0 mm", "1.0 mm"}), ""},
        {"a setting read back is a property from its first value read",
         RecordingOf({{"GAIN? 1", "0.50"}, {"gain  1 2"}, {"GAIN? 1", "2.00"}}), "/properties/0",
         json{{"get", "GAIN? 1"},
              {"set", "gain 1 {number}"},
              {"initial", 0.5},
              {"decimals", 2},
              {"source", "set to 2 in record 7, read back in records 4, 9"}},
         ""},
        {"a setting never read before it was set starts at the first value set",
         RecordingOf({{"GAIN 3"}, {"GAIN?", "3"}}), "/properties/0/initial", 3, "the value before the first set"},
        {"a read that does not echo the value set is no property",
         RecordingOf({{"GAIN 3"}, {"GAIN?", "4"}}), "/commands/0", json{{"command", "GAIN {number}"},
                                                                     {"answers", json::array()},
                                                                     {"source", "record 4 (\"GAIN 3\"): no answer"}},
         ""},
        {"a refused value raises the recorded error, written out in full",
         RecordingOf({{"GAIN?", "1"}, {"GAIN 3"}, {"GAIN?", "3"}, {"GAIN 99", nullptr, 9}}, {{9, "too much"}}),
         "/errors/0", json{{"code", 9}, {"text", "too much"}, {"command", {"GAIN 99"}},
                           {"source", "\"GAIN 99\": refused as a setting of \"GAIN?\""}},
         "where between the values accepted"},
        {"an error without a recorded text gets one that names its code",
         RecordingOf({{"FIRE", nullptr, 12}}), "/errors/0/text", "error 12", "no TranslateError text"},
        {"a command unknown to the simulator recorded stays unknown",
         RecordingOf({{"HUH?", nullptr, -301}, {"*IDN?", "lab"}}), "/errors", nullptr, "it stays unknown"},
        {"a command that failed only sometimes is described without its error",
         RecordingOf({{"HOME", nullptr, 5}, {"HOME"}}), "/commands/0/command", "HOME", "drew an error in 1 of 2"},
        {"an answer that quotes {1} is left out, as a description would read it as a number",
         RecordingOf({{"FMT?", "{1}"}}), "/commands", nullptr, "quotes {N}"},
        {"an answer in another encoding than UTF-8 is left out",
         RecordingOf({{"DEG?", "90\u00b0"}}), "/commands", nullptr, "not UTF-8"},
        {"the identity starts the description",
         RecordingOf({{"*IDN?", "QX,ST-200"}}), "/description",
         "QX,ST-200, derived by zelbridge describe from lab.jsonl, connection(s) made in record 3", ""},
    };
    for (const auto& c : cases) {
        const recording::LoadedRecording loaded = recording::ParseRecording(c.recording, "lab.jsonl");
        ASSERT_TRUE(loaded.recording) << c.name << ": " << loaded.reason;
        const std::vector<DerivedDescription> derived =
            DeriveDescriptions(*loaded.recording, ReadCallRecords(c.recording, *loaded.recording), ConnectionFilter{}, "dir/lab.jsonl");
        ASSERT_EQ(derived.size(), 1u) << c.name;
        const json document = json::parse(derived.front().document.dump());
        const json::json_pointer pointer(c.pointer);
        if (c.expected.is_null())
            EXPECT_FALSE(document.contains(pointer)) << c.name << ": " << document.dump();
        else
            EXPECT_EQ(document.contains(pointer) ? document.at(pointer) : json(), c.expected)
                << c.name << ": " << document.dump();
        std::string notes;
        for (const std::string& note : derived.front().notDerived)
            notes += note + "\n";
        if (*c.note)
            EXPECT_NE(notes.find(c.note), std::string::npos) << c.name << ": " << notes;
        else
            EXPECT_EQ(notes, "") << c.name;
        const simulator::LoadedDescription check = simulator::ParseDescription(document.dump(), "derived.json");
        EXPECT_TRUE(check.description) << c.name << ": " << check.reason;
    }
}

TEST(DescribeDerivation, RestrictionsKeepTheConnectionsNamed)
{
    const std::string recording = RecordingOf({{"*IDN?", "a"}});
    const recording::LoadedRecording loaded = recording::ParseRecording(recording, "r.jsonl");
    ASSERT_TRUE(loaded.recording);
    const CallRecords calls = ReadCallRecords(recording, *loaded.recording);
    const struct {
        ConnectionFilter filter;
        std::size_t kept;
    } cases[] = {
        {{}, 1},           {{7, {}, {}, {}}, 1},  {{8, {}, {}, {}}, 0},     {{{}, 0, {}, {}}, 1},
        {{{}, 1, {}, {}}, 0}, {{{}, {}, "M329", {}}, 0}, {{{}, {}, {}, 1}, 1}, {{{}, {}, {}, 2}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeriveDescriptions(*loaded.recording, calls, c.filter, "r.jsonl").size(), c.kept);
}

TEST(TimelineOfATrace, TimerLinesBecomeSlicesAcrossAWrapOfTheTickCount)
{
    // The tick count is written signed: -6 is 4294967290, four ticks before the wrap.
    const std::string trace = "TIMER: DefineSystem  -- start -6\n"
                              "TIMER: DefineSystem  -- end 4 (10)\n"
                              "ZEL: M329_IsDLLAvailable() \"M329_ZEL_DLL.DLL\" not found\n"
                              "TIMER: ConnectUSB  -- start 4\n"
                              "TIMER: ConnectUSB  -- end 34 (30)\n";
    ASSERT_TRUE(IsTrace(trace));
    std::vector<std::pair<std::string, double>> slices;
    std::vector<std::string> failures;
    const json events = TraceEventsOfTrace(trace);
    for (const json& event : events["traceEvents"]) {
        if (event["ph"] == "X")
            slices.emplace_back(event["name"], event["dur"].get<double>());
        if (event.value("cat", "").find("error") != std::string::npos)
            failures.push_back(event["name"]);
    }
    EXPECT_EQ(slices, (std::vector<std::pair<std::string, double>>{{"DefineSystem", 10000}, {"ConnectUSB", 30000}}));
    EXPECT_EQ(failures.size(), 1u);
}

} // namespace
} // namespace zelbridge::tool
