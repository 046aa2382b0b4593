// A recording as a support engineer gets it from a customer, replayed with
// zelbridge replay and through the simulator: what the user reads and the
// exit status, for recordings whole, cut, mixed, edited, broken and missing.
#include "replay/replay_judgement.h"
#include "test_environment.h"
#include "tool_runner.h"
#include "zelbridge.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace zelbridge::test {
namespace {

// A call record of process `pid` on system 0; `rest` is what follows "entry".
std::string Call(int pid, double t, const std::string& entry, const std::string& rest)
{
    return "{\"pid\":" + std::to_string(pid) + ",\"t\":" + std::to_string(t) + ",\"thread\":1,\"entry\":\"" + entry +
           "\",\"system\":0," + rest + "}\n";
}

// DefineSystem, then its connect.
std::string Connect(int pid)
{
    return "{\"pid\":" + std::to_string(pid) +
           R"(,"t":0,"thread":1,"entry":"DefineSystem","args":["Simulator","SIM_"],"result":0})" "\n" +
           Call(pid, 0, "ConnectUSB", R"("args":["stage.json"],"result":0)");
}

std::string Command(int pid, double t, const std::string& command, int result = 0)
{
    return Call(pid, t, "ZelCommandset", "\"args\":[\"" + command + "\"],\"result\":" + std::to_string(result));
}

std::string Answer(int pid, double t, const std::string& answer, const std::string& more = "")
{
    return Call(pid, t, "ZelGetAnswer", "\"args\":[null,64],\"result\":0,\"answer\":\"" + answer + "\"" + more);
}

std::string Error(int pid, int code)
{
    return Call(pid, 3, "GetError", "\"args\":[],\"result\":" + std::to_string(code));
}

std::string SessionOf(int pid)
{
    return R"({"format":"zelbridge-recording","version":1,"pid":)" + std::to_string(pid) +
           R"(,"started":"2026-12-09T11:00:00Z"})" + "\n";
}

const std::string kIdentity = "QX Motion,ST-200,SIM-0001,2.1.0";

TEST(Replay, SaysWhatARecordingHoldsAndWhatDifferedWithTheExitStatus)
{
    ScopedInstallPath installPath;
    installPath.Remove();
    const std::string file = BinaryPath("replay-case.jsonl");
    const std::string simulator = ZELBRIDGE_SIMULATOR_FILE;
    const std::string identityReplay = SessionOf(100) + Connect(100) + Command(100, 1, "*IDN?") + Error(100, 0) +
                                       Answer(100, 4, kIdentity);
    const std::string longAnswer(20003, 'x');
    const std::string unopenable = BinaryPath("replay-absent", "no-such-folder");

    const struct {
        const char* name;
        std::string recording; // written to `file` when not empty
        std::vector<std::string> arguments;
        const char* recordedDelays;
        const char* installPath;
        int exitCode;
        std::vector<std::string> out;
        std::vector<std::string> err;
    } rows[] = {
        {"a long answer is compared whole",
         SessionOf(100) + Connect(100) + Command(100, 1, "*IDN?") + Answer(100, 2, longAnswer),
         {"replay", file}, nullptr, nullptr, 0,
         {"(20003 characters)", "replays cleanly: 1 of 1 commands\n"}, {}},
        {"an answer recorded cut is said, never clean",
         SessionOf(100) + Connect(100) + Command(100, 1, "*IDN?") +
             Answer(100, 2, "QX Motion", R"(,"cut":true,"answer_length":2000000)"),
         {"replay", file}, nullptr, nullptr, 1,
         {"record 4 *IDN?: the answer was recorded cut, 9 of its 2000000 characters\n",
          "replays only what was recorded: 1 text recorded cut (record 5); 1 of 1 commands\n"}, {}},
        {"texts are printed escaped: line ends, tabs, bytes that are not UTF-8",
         SessionOf(100) + Connect(100) + Command(100, 1, "HLP?\\t") + Answer(100, 2, "line 1\\nline 2\\u00ff \\u00c3\\u00a9"),
         {"replay", file}, nullptr, nullptr, 0,
         {"texts are shown escaped", "  record 4: HLP?\\t => ok \"line 1\\nline 2\\xff \u00e9\"\n"}, {}},
        {"two processes in one file replay each on its own",
         SessionOf(100) + SessionOf(200) + Connect(100) + Connect(200) + Command(100, 1, "*IDN?") +
             Command(200, 1, "POS? X") + Answer(100, 2, kIdentity) + Answer(200, 2, "0.000 mm"),
         {"replay", file}, nullptr, nullptr, 0,
         {"2 processes", "process 100 (started 2026-12-09T11:00:00Z, record 1): 1 connections\n",
          "connection 1 (connected in record 4): 1 commands\n  record 7: *IDN? => ok \"" + kIdentity,
          "process 200 (started 2026-12-09T11:00:00Z, record 2): 1 connections\n",
          "connection 2 (connected in record 6): 1 commands\n  record 8: POS? X => ok \"0.000 mm\"",
          "replays cleanly: 2 of 2 commands\n"}, {}},
        {"error checking off: the failure is the recorded GetError",
         SessionOf(100) + Connect(100) + Call(100, 1, "SetErrorCheck", R"("args":[0],"result":0)") +
             Command(100, 1, "MOVE X 80") + Error(100, 7) +
             R"({"pid":100,"t":4,"thread":1,"entry":"TranslateError","system":0,"args":[7,null,256],"result":0,"answer":"Position out of limits"})" "\n",
         {"replay", file}, nullptr, nullptr, 0,
         {"record 5: MOVE X 80 => error 7 \"Position out of limits\"\n", "replays cleanly: 1 of 1 commands\n"}, {}},
        {"an answer that does not come in time is named with what was recorded",
         SessionOf(100) + Connect(100) + Command(100, 1, "*IDN?") + Answer(100, 60001, kIdentity),
         {"replay", "--timeout", "100", file}, "1", nullptr, 1,
         {"record 4 *IDN?: recorded answer \"" + kIdentity + "\", replayed no answer within 100 ms\n"}, {}},
        {"a command off the recording fails in the simulator and says what was recorded",
         identityReplay, {"send", "--driver", simulator, "--prefix", "SIM_", "--usb", file, "*IDN"}, nullptr, nullptr, 1,
         {}, {"error -314: the session left its recording: record 4 expected \"*IDN?\", came \"*IDN\"\n"}},
        {"a command in another case and spacing is the recorded one",
         identityReplay, {"send", "--driver", simulator, "--prefix", "SIM_", "--usb", file, " *idn? "}, nullptr, nullptr, 0,
         {kIdentity + "\n"}, {}},
        {"a truncated file names its torn record in words and replays the rest",
         identityReplay.substr(0, identityReplay.size() - 20), {"replay", file}, nullptr, nullptr, 1,
         {"left out, unreadable: record 6 (byte 466): the record is cut short after"},
         {"record 6 (byte 466): the record is cut short", "--skip-bad-records accepts"}},
        {"a version this reader does not know is refused in one line",
         R"({"format":"zelbridge-recording","version":2,"pid":1})" "\n" + Connect(1),
         {"replay", file}, nullptr, nullptr, 1, {},
         {"record 1: the recording is in version 2 of its format; this zelbridge reads version 1\n"}},
        {"a file that cannot be opened is said once with its name and the reason",
         "", {"replay", unopenable}, nullptr, nullptr, 1, {},
         {"zelbridge: cannot open the recording \"" + unopenable + "\": No such file or directory\n"}},
        {"the simulator beside the tool replays whatever the install path says",
         identityReplay, {"replay", file}, nullptr, "fixtures_unreachable", 0,
         {"replays cleanly: 1 of 1 commands\n"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::remove(file.c_str());
        if (!row.recording.empty())
            std::ofstream(file, std::ios::binary) << row.recording;
        if (row.recordedDelays)
            SetEnvironment("ZELBRIDGE_SIM_RECORDED_DELAYS", row.recordedDelays);
        if (row.installPath)
            installPath.Set(BinaryDirectory() + PathSeparator() + row.installPath);
        const ToolRun run = RunTool(row.arguments);
        UnsetEnvironment("ZELBRIDGE_SIM_RECORDED_DELAYS");
        installPath.Remove();
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out << run.err;
        for (const std::string& part : row.out)
            EXPECT_NE(run.out.find(part), std::string::npos) << "\"" << part << "\" not in:\n" << run.out << run.err;
        for (const std::string& part : row.err)
            EXPECT_NE(run.err.find(part), std::string::npos) << "\"" << part << "\" not in:\n" << run.err;
        // One line for a failure, and never a library's own words.
        if (!row.err.empty()) {
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        }
        EXPECT_EQ(run.err.find("json.exception"), std::string::npos) << run.err;
    }
    std::remove(file.c_str());
}

// Two processes, one after the other, record into one file through the
// module: a 20,003-character answer, then the example stage's identity.
TEST(Replay, TwoProcessesRecordedThroughTheModuleReplayEachOnItsOwnWithTheLongAnswerWhole)
{
    ScopedInstallPath installPath;
    installPath.Remove();
    const std::string recording = BinaryPath("replay-two-processes.jsonl");
    const std::string description = BinaryPath("replay-long-answer.json");
    const std::string longAnswer(20003, 'x');
    std::remove(recording.c_str());
    std::ofstream(description, std::ios::binary)
        << R"({"commands": [{"command": "LONG?", "answer": ")" << longAnswer << "\"}]}";
    SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());
    const ToolRun first = RunTool({"send", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb", description, "LONG?"});
    const ToolRun second = RunTool(
        {"send", "--driver", ZELBRIDGE_SIMULATOR_FILE, "--prefix", "SIM_", "--usb", BinaryPath("Simulator.json"), "*IDN?"});
    UnsetEnvironment("ZELBRIDGE_RECORD");
    EXPECT_EQ(first.out, longAnswer + "\n") << first.err;
    EXPECT_EQ(second.out, kIdentity + "\n") << second.err;

    const ToolRun replay = RunTool({"replay", recording});
    EXPECT_EQ(replay.exitCode, 0) << replay.out << replay.err;
    for (const char* part : {", 2 processes, 2 connections, 2 commands", "(20003 characters)\n",
                             "replays cleanly: 2 of 2 commands\n"})
        EXPECT_NE(replay.out.find(part), std::string::npos) << "\"" << part << "\" not in:\n" << replay.out;
    std::remove(recording.c_str());
    std::remove(description.c_str());
}

// A recording edited as people edit them, or torn: replay names the record,
// says why, counts it and fails; --skip-bad-records replays the rest.
TEST(Replay, NamesEachRecordItLeavesOutAndReplaysTheRestOnlyWhenTold)
{
    ScopedInstallPath installPath;
    installPath.Remove();
    const std::string file = BinaryPath("replay-edited.jsonl");
    const std::string head = SessionOf(100) + Connect(100) + Command(100, 1, "*IDN?") + Answer(100, 2, kIdentity);
    const std::string tail = Command(100, 5, "POS? X") + Answer(100, 6, "0.000 mm") +
                             R"({"pid":100,"t":7,"thread":1,"entry":"QXGraph3DCreate","args":[null,null],"result":-1})" "\n";
    const std::string pos = Command(100, 3, "POS? X");
    const struct {
        const char* name;
        std::string edited; // record 6, and 7
        const char* reason;
    } edits[] = {
        {"a command moved to a process without a session", Command(999, 3, "MOVE X 10"),
         "process 999 has no session record before this one"},
        {"an error of a system never defined",
         R"({"pid":100,"t":3,"thread":1,"entry":"GetError","system":3,"args":[],"result":7})" "\n",
         "system 3 was never defined in process 100"},
        {"a misspelt entry", Call(100, 3, "ZelGetAnswerSise", R"("args":[],"result":0)"),
         "\"entry\" names no entry point the module records: \"ZelGetAnswerSise\""},
        {"a size that disagrees with its answer",
         Call(100, 3, "ZelGetAnswerSize", R"("args":[],"result":0,"size":99)") + Answer(100, 3, "QX Motion"),
         "the answer is 9 characters long, but record 6 recorded its size as 99"},
        {"a member the schema does not allow", Call(100, 3, "GetError", R"("args":[],"result":0,"note":"x")"),
         "\"note\" is not a member of a call record"},
        {"a negative time", Call(100, -3, "GetError", R"("args":[],"result":0)"),
         "\"t\" must be a number of milliseconds, 0 or more"},
        {"a line torn by a writer that died", pos.substr(0, 50) + "\n", "the record is cut short after 50 characters"},
    };
    for (const auto& edit : edits) {
        SCOPED_TRACE(edit.name);
        std::ofstream(file, std::ios::binary) << head << edit.edited << tail;
        // A size is judged by the answer after it, which is then the record named.
        const std::string named = std::string(edit.name).find("size") != std::string::npos ? "record 7 (byte " : "record 6 (byte ";
        const ToolRun strict = RunTool({"replay", file});
        EXPECT_EQ(strict.exitCode, 1) << strict.out << strict.err;
        EXPECT_NE(strict.out.find(": " + named), std::string::npos) << strict.out;
        EXPECT_NE(strict.out.find(edit.reason), std::string::npos) << strict.out;
        EXPECT_NE(strict.out.find(", 1 graph calls, 1 record left out\n"), std::string::npos) << strict.out;
        EXPECT_NE(strict.err.find(named), std::string::npos) << strict.err;
        EXPECT_NE(strict.err.find("--skip-bad-records"), std::string::npos) << strict.err;
        const ToolRun lenient = RunTool({"replay", "--skip-bad-records", file});
        EXPECT_EQ(lenient.exitCode, 0) << lenient.out << lenient.err;
        EXPECT_NE(lenient.out.find("replays cleanly: 2 of 2 commands, without the 1 record left out\n"), std::string::npos)
            << lenient.out;
    }
    std::remove(file.c_str());
}

// What an application wrote and read past the recorder's bound replays as
// far as it was recorded, and the report stays short.
TEST(Replay, ACommandAndAnAnswerOfTwoMebibytesReplayWhatWasRecordedInAShortReport)
{
    ScopedInstallPath installPath;
    installPath.Remove();
    const std::string recording = BinaryPath("replay-two-mebibytes.jsonl");
    const std::string description = BinaryPath("replay-two-mebibytes.json");
    constexpr std::size_t kTwoMebibytes = 2 * 1024 * 1024;
    std::remove(recording.c_str());
    std::ofstream(description, std::ios::binary)
        << R"({"commands": [{"command": "LONG?", "answer": ")" << std::string(kTwoMebibytes, 'a') << "\"}]}";
    {
        SetEnvironment("ZELBRIDGE_RECORD", recording.c_str());
        ZelbridgeModule module;
        UnsetEnvironment("ZELBRIDGE_RECORD");
        const int index = ZB_EXPORT_OF(module, DefineSystem)(BinaryPath(ZELBRIDGE_SIMULATOR_FILE).c_str(), "SIM_");
        ASSERT_EQ(ZB_EXPORT_OF(module, ConnectUSB)(index, reinterpret_cast<ZelWord>(description.c_str())), 0);
        const std::string command(kTwoMebibytes, 'M');
        ZB_EXPORT_OF(module, ZelCommandset)(index, command.c_str());
        ZB_EXPORT_OF(module, GetError)(index);
        ASSERT_EQ(ZB_EXPORT_OF(module, ZelCommandset)(index, "LONG?"), 0);
        int size = 0;
        ZB_EXPORT_OF(module, ZelGetAnswerSize)(index, &size);
        ASSERT_EQ(size, static_cast<int>(kTwoMebibytes) + 1);
        std::vector<char> answer(static_cast<std::size_t>(size));
        ASSERT_EQ(ZB_EXPORT_OF(module, ZelGetAnswer)(index, answer.data(), size), 0);
        ZB_EXPORT_OF(module, CloseConnection)(index);
    }
    const ToolRun replay = RunTool({"replay", recording});
    EXPECT_EQ(replay.exitCode, 1) << replay.out.substr(0, 2000) << replay.err.substr(0, 2000);
    for (const char* part : {"the command was recorded cut: its first 1048576 characters were compared",
                             "the answer was recorded cut, 1048576 of its 2097152 characters",
                             "replays only what was recorded: 2 texts recorded cut", "; 2 of 2 commands\n"})
        EXPECT_NE(replay.out.find(part), std::string::npos) << part << " not in:\n" << replay.out.substr(0, 4000);
    EXPECT_LT(replay.out.size() + replay.err.size(), 10000u) << replay.out.substr(0, 4000);
    std::remove(recording.c_str());
    std::remove(description.c_str());
}

// Differences the simulator never makes on its own, as an edited recording
// or a faulty driver would show them.
TEST(Replay, NamesEachFieldThatDiffersAsRecordedAndAsReplayed)
{
    recording::RecordedCommand move;
    move.record = 11;
    move.text = "MOVE X 80";
    move.error = 7;
    recording::RecordedCommand query;
    query.record = 3;
    query.text = "*IDN?";
    for (const std::string& text : {kIdentity, std::string("2")}) {
        query.answers.emplace_back();
        query.answers.back().text = text;
    }
    const tool::ErrorTexts texts = [](std::int32_t code) { return code == 7 ? "Position out of limits" : ""; };
    const struct {
        const recording::RecordedCommand& recorded;
        tool::Replayed replayed;
        std::string difference;
    } rows[] = {
        {move, {0, 7, {}, ""}, ""},
        {move, {0, 0, {}, ""}, "record 11 MOVE X 80: recorded error 7 \"Position out of limits\", replayed error 0"},
        {move, {-314, -314, {}, ""},
         "record 11 MOVE X 80: recorded result 0, replayed result -314; recorded error 7 \"Position out of limits\", "
         "replayed error -314"},
        {query, {0, 0, {kIdentity}, ""},
         "record 3 *IDN?: recorded answer 2 \"2\", replayed no answer within 50 ms"},
        {query, {0, 0, {kIdentity, "3", "4"}, ""},
         "record 3 *IDN?: recorded answer 2 \"2\", replayed \"3\"; recorded no answer 3, replayed \"4\""},
        {query, {0, 0, {}, "error -5: read failed"},
         "record 3 *IDN?: recorded answer 1 \"" + kIdentity + "\", replayed error -5: read failed; recorded answer 2 "
         "\"2\", replayed error -5: read failed"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(tool::Differences(row.recorded, row.replayed, 50, texts, texts), row.difference);
}

// describe and timeline read what replay reads: a line torn by a writer that
// died, alone or with the next record written onto it, is named as replay
// names it, and the description and the timeline come from every whole record.
TEST(Replay, DescribeAndTimelineNameTheTornRecordsReplayNamesAndUseEveryWholeOne)
{
    ScopedInstallPath installPath;
    installPath.Remove();
    const std::string file = BinaryPath("describe-torn.jsonl");
    const std::string head = SessionOf(100) + Connect(100) + Command(100, 1, "*IDN?") + Answer(100, 2, kIdentity) +
                             Error(100, 0);
    const std::string torn = R"({"pid":100,"t":2.5,"thread":1,"entry":"ZelCommandset","system":0,"args":["JOG X)";
    const std::string tail = Command(100, 3, "POS? X") + Answer(100, 4, "0.000 mm") + Error(100, 0);
    const std::string tornAlone = head + torn + "\n" + tail;
    const std::string writtenOnto = head + torn + tail;
    const std::string named = "left out, unreadable: record 7 (byte " + std::to_string(head.size()) +
                              "): the record is cut short after ";
    const std::string onto = "and the next record was written onto it";
    const struct {
        const char* name;
        std::string recording;
        std::vector<std::string> arguments;
        int exitCode;
        std::vector<std::string> out;
        std::vector<std::string> err;
    } rows[] = {
        {"describe names a torn line and describes the rest, failing", tornAlone, {"describe", file}, 1,
         {kIdentity, "\"POS? X\"", "0.000 mm"},
         {named + std::to_string(torn.size()) + " characters", "accepts a description without them\n"}},
        {"describe reads the record written onto a torn line", writtenOnto, {"describe", file}, 1,
         {kIdentity, "\"POS? X\"", "0.000 mm"}, {named + std::to_string(torn.size()) + " characters, " + onto}},
        {"describe told to skip bad records still names them", writtenOnto,
         {"describe", "--skip-bad-records", file}, 0, {"\"POS? X\"", "0.000 mm"}, {named}},
        {"timeline draws around a torn line, failing", tornAlone, {"timeline", file}, 1,
         {"\"traceEvents\"", "*IDN?", "POS? X"}, {named, "accepts a timeline without them\n"}},
        {"timeline told to skip bad records draws the record written onto a torn line", writtenOnto,
         {"timeline", "--skip-bad-records", file}, 0, {"POS? X"}, {named + std::to_string(torn.size()) + " characters, " + onto}},
        {"replay names the same record with the same words", writtenOnto, {"replay", "--skip-bad-records", file}, 0,
         {named + std::to_string(torn.size()) + " characters, " + onto, "replays cleanly: 2 of 2 commands"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << row.recording;
        const ToolRun run = RunTool(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out << run.err;
        for (const std::string& part : row.out)
            EXPECT_NE(run.out.find(part), std::string::npos) << "\"" << part << "\" not in:\n" << run.out << run.err;
        for (const std::string& part : row.err)
            EXPECT_NE(run.err.find(part), std::string::npos) << "\"" << part << "\" not in:\n" << run.err;
        // Nothing of the torn record's bytes is described or drawn.
        EXPECT_EQ(run.out.find("JOG X"), std::string::npos) << run.out;
        EXPECT_EQ(run.err.find("json.exception"), std::string::npos) << run.err;
    }
    std::remove(file.c_str());
}

} // namespace
} // namespace zelbridge::test
