// One recording file shared by many processes and threads, by a forked child
// and by writers killed in the middle of a long answer: every whole record is
// read back, attributed to its process and thread, and only torn ones are
// named. POSIX only: it forks and kills.
#include "recording/recording_reader.h"
#include "test_environment.h"
#include "zelbridge.h"
#include "zelbridge_module.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zelbridge::test {
namespace {

using nlohmann::json;
using recording::FaultKind;

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Each line of the file, parsed where it is whole; null where it is not.
std::vector<json> Lines(const std::string& text)
{
    std::vector<json> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(json::parse(text.substr(start, end - start), nullptr, false));
        start = end + 1;
    }
    return lines;
}

int WaitFor(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// In a child: loads the module recording into `path`, runs `body` with it and ends.
template <typename Body> pid_t Recorder(const std::string& path, Body body)
{
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    ::setenv("ZELBRIDGE_RECORD", path.c_str(), 1);
    {
        ZelbridgeModule module;
        body(module);
    }
    ::_exit(::testing::Test::HasFailure() ? 2 : 0);
}

// A graph call whose doubles say who made it: the process, the test's own
// number of the thread, and the call's place in that thread's sequence.
void Mark(const ZelbridgeModule& module, int process, int thread, int call)
{
    ZB_EXPORT_OF(module, QXGraph3DSetRange)(0, 0, process, thread * 1000000.0 + call);
}

TEST(RecordingProcesses, EightProcessesOfFourThreadsEachWriteWholeRecordsAttributedToTheirOwn)
{
    const std::string path = BinaryPath("recording-eight-processes.jsonl");
    // The file ends in the middle of a record, as a writer that died left it.
    std::ofstream(path, std::ios::binary) << R"({"pid":1,"t":0,"thread":1,"entry":"GetErr)";
    constexpr int kProcesses = 8, kThreads = 4, kCalls = 100, kLongEvery = 25;
    std::vector<pid_t> children;
    for (int process = 0; process < kProcesses; ++process)
        children.push_back(Recorder(path, [&](const ZelbridgeModule& module) {
            std::vector<std::thread> threads;
            for (int thread = 0; thread < kThreads; ++thread)
                threads.emplace_back([&, thread] {
                    // A long record now and then: a library name of 64 KiB, which no load takes.
                    const std::string longName(64 * 1024, static_cast<char>('a' + thread));
                    for (int call = 0; call < kCalls; ++call) {
                        Mark(module, process, thread, call);
                        if (call % kLongEvery == 0)
                            ZB_EXPORT_OF(module, DefineSystem)(longName.c_str(), "X_");
                    }
                });
            for (std::thread& thread : threads)
                thread.join();
        }));
    for (const pid_t child : children)
        EXPECT_EQ(WaitFor(child), 0);

    const std::string text = ReadFile(path);
    const std::vector<json> lines = Lines(text);
    const recording::LoadedRecording loaded = recording::ParseRecording(text, path);
    ASSERT_TRUE(loaded.recording) << loaded.reason;
    const recording::Recording& recording = *loaded.recording;
    // Only the torn line the test wrote; the first record after it starts a line of its own.
    ASSERT_EQ(recording.faults.size(), 1u) << recording::Describe(recording.faults.back());
    EXPECT_EQ(recording.faults[0].record, 1u);
    EXPECT_EQ(recording.faults[0].kind, FaultKind::kUnreadable);
    EXPECT_EQ(recording.counts.sessions, static_cast<std::size_t>(kProcesses));
    EXPECT_EQ(recording.counts.graph, static_cast<std::size_t>(kProcesses * kThreads * kCalls));
    EXPECT_EQ(recording.counts.generic, static_cast<std::size_t>(kProcesses * kThreads * (kCalls / kLongEvery)));

    // Per process identifier and recorded thread: one thread of the test's,
    // its calls in order, after the process's session record.
    std::map<std::int64_t, int> processOf;
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<double>> marks;
    std::set<std::int64_t> sessions;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const json& line = lines[i];
        ASSERT_TRUE(line.is_object()) << "line " << i + 1 << " is not whole";
        const std::int64_t pid = line.at("pid");
        if (line.contains("format")) {
            sessions.insert(pid);
            continue;
        }
        ASSERT_TRUE(sessions.count(pid)) << "line " << i + 1 << " comes before its session";
        if (line.at("entry") != "QXGraph3DSetRange")
            continue;
        const int process = line.at("args").at(2);
        EXPECT_EQ(processOf.emplace(pid, process).first->second, process);
        marks[{pid, line.at("thread").get<std::int64_t>()}].push_back(line.at("args").at(3).get<double>());
    }
    EXPECT_EQ(processOf.size(), static_cast<std::size_t>(kProcesses));
    ASSERT_EQ(marks.size(), static_cast<std::size_t>(kProcesses * kThreads));
    for (const auto& [who, sequence] : marks) {
        const int thread = static_cast<int>(sequence.front() / 1000000);
        EXPECT_GE(who.second, 1);
        EXPECT_LE(who.second, kThreads);
        ASSERT_EQ(sequence.size(), static_cast<std::size_t>(kCalls));
        for (int call = 0; call < kCalls; ++call)
            ASSERT_EQ(sequence[call], thread * 1000000.0 + call) << "process " << who.first << " thread " << who.second;
    }
    std::remove(path.c_str());
}

TEST(RecordingProcesses, AForkedChildRecordsAsItselfWithASessionAClockAndThreadNumbersOfItsOwn)
{
    const std::string path = BinaryPath("recording-fork.jsonl");
    std::remove(path.c_str());
    SetEnvironment("ZELBRIDGE_RECORD", path.c_str());
    ZelbridgeModule module;
    UnsetEnvironment("ZELBRIDGE_RECORD");
    Mark(module, 0, 0, 1);
    pid_t child = 0;
    // Forked from the parent's second recording thread.
    std::thread([&] {
        Mark(module, 0, 1, 2);
        child = ::fork();
        if (child == 0) {
            Mark(module, 1, 1, 3);
            ::_exit(0);
        }
    }).join();
    ASSERT_GT(child, 0);
    EXPECT_EQ(WaitFor(child), 0);
    Mark(module, 0, 0, 4);
    module.Unload();

    const std::vector<json> lines = Lines(ReadFile(path));
    std::vector<json> calls, sessions;
    for (const json& line : lines)
        (line.contains("format") ? sessions : calls).push_back(line);
    ASSERT_EQ(sessions.size(), 2u);
    ASSERT_EQ(calls.size(), 4u);
    const std::int64_t parent = ::getpid();
    EXPECT_EQ(sessions[0].at("pid"), parent);
    EXPECT_EQ(sessions[1].at("pid"), child);
    const json& childCall = *std::find_if(calls.begin(), calls.end(), [](const json& c) { return c["args"][2] == 1; });
    EXPECT_EQ(childCall.at("pid"), child);
    EXPECT_EQ(childCall.at("thread"), 1);
    EXPECT_EQ(childCall.at("t"), 0.0);
    for (const json& call : calls) {
        if (call["args"][2] == 0) {
            EXPECT_EQ(call.at("pid"), parent);
        }
    }
    EXPECT_EQ(calls.back().at("thread"), 1);
    const recording::LoadedRecording loaded = recording::ParseRecording(ReadFile(path), path);
    ASSERT_TRUE(loaded.recording);
    EXPECT_TRUE(loaded.recording->faults.empty());
    EXPECT_EQ(loaded.recording->processes.size(), 2u);
    std::remove(path.c_str());
}

// The marks of each recorded thread, in the order of the file; they must
// count 0, 1, 2, ... with none missing.
void ExpectWholeSequences(const std::vector<json>& lines, std::size_t threads)
{
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<double>> marks;
    for (const json& line : lines)
        if (line.is_object() && line.value("entry", "") == "QXGraph3DSetRange")
            marks[{line.at("pid").get<std::int64_t>(), line.at("thread").get<std::int64_t>()}].push_back(line["args"][3]);
    EXPECT_EQ(marks.size(), threads);
    for (const auto& [who, sequence] : marks) {
        const double first = sequence.front() - std::fmod(sequence.front(), 1000000.0);
        for (std::size_t call = 0; call < sequence.size(); ++call)
            ASSERT_EQ(sequence[call], first + static_cast<double>(call)) << "process " << who.first;
    }
}

// Writers killed (SIGKILL) in the middle of recording a 64 KiB answer, many
// times, while two other processes record into the same file throughout.
TEST(RecordingProcesses, WritersKilledInTheMiddleOfLongAnswersLoseOnlyTheRecordsTheyTore)
{
    const std::string path = BinaryPath("recording-killed.jsonl");
    const std::string description = BinaryPath("recording-killed.json");
    const std::string stop = BinaryPath("recording-killed.stop");
    std::remove(path.c_str());
    std::remove(stop.c_str());
    std::ofstream(description, std::ios::binary)
        << R"({"commands": [{"command": "LONG?", "answer": ")" << std::string(64 * 1024, 'x') << "\"}]}";
    constexpr int kSteadyThreads = 3, kKills = 80;
    std::vector<pid_t> steady;
    for (int process = 0; process < 2; ++process)
        steady.push_back(Recorder(path, [&](const ZelbridgeModule& module) {
            std::vector<std::thread> threads;
            for (int thread = 0; thread < kSteadyThreads; ++thread)
                threads.emplace_back([&, thread] {
                    for (int call = 0; ::access(stop.c_str(), F_OK) != 0; ++call) {
                        Mark(module, process, thread, call);
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                });
            for (std::thread& thread : threads)
                thread.join();
        }));
    std::mt19937 random(20261209);
    using Clock = std::chrono::steady_clock;
    // Bounded in time as well as in number, on a loaded machine.
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    int kills = 0;
    for (; kills < kKills && (kills < 5 || Clock::now() < deadline); ++kills) {
        int signals[2];
        ASSERT_EQ(::pipe(signals), 0);
        const pid_t writer = Recorder(path, [&](const ZelbridgeModule& module) {
            const int index = ZB_EXPORT_OF(module, DefineSystem)(BinaryPath(ZELBRIDGE_SIMULATOR_FILE).c_str(), "SIM_");
            ZB_EXPORT_OF(module, ConnectUSB)(index, reinterpret_cast<ZelWord>(description.c_str()));
            std::vector<char> answer(128 * 1024);
            for (;;) {
                ZB_EXPORT_OF(module, ZelCommandset)(index, "LONG?");
                int size = 0;
                ZB_EXPORT_OF(module, ZelGetAnswerSize)(index, &size);
                static_cast<void>(::write(signals[1], "r", 1));
                ZB_EXPORT_OF(module, ZelGetAnswer)(index, answer.data(), static_cast<int>(answer.size()));
                static_cast<void>(::write(signals[1], "d", 1));
            }
        });
        // One answer measures how long reading and recording one takes; the
        // record is written at its end, where the kill of the next one aims.
        char signal = 0;
        ASSERT_EQ(::read(signals[0], &signal, 1), 1);
        const Clock::time_point start = Clock::now();
        ASSERT_EQ(::read(signals[0], &signal, 1), 1);
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        ASSERT_EQ(::read(signals[0], &signal, 1), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(took * (50 + random() % 60) / 100));
        ::kill(writer, SIGKILL);
        WaitFor(writer);
        ::close(signals[0]);
        ::close(signals[1]);
    }
    std::ofstream(stop) << "stop";
    for (const pid_t child : steady)
        EXPECT_EQ(WaitFor(child), 0);
    std::remove(stop.c_str());

    const std::string text = ReadFile(path);
    const std::vector<json> lines = Lines(text);
    std::set<std::size_t> torn;
    std::size_t answers = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].is_object())
            torn.insert(i + 1);
        else if (lines[i].value("entry", "") == "ZelGetAnswer")
            ++answers;
    }
    const recording::LoadedRecording loaded = recording::ParseRecording(text, path);
    ASSERT_TRUE(loaded.recording) << loaded.reason;
    const recording::Recording& recording = *loaded.recording;
    std::set<std::size_t> named;
    for (const recording::RecordFault& fault : recording.faults) {
        EXPECT_EQ(fault.kind, FaultKind::kUnreadable) << recording::Describe(fault);
        named.insert(fault.record);
    }
    EXPECT_EQ(named, torn);
    // Every whole record is read: each steady call, each whole answer.
    ExpectWholeSequences(lines, 2 * kSteadyThreads);
    std::size_t replayable = 0;
    for (const auto& connection : recording.connections)
        for (const auto& command : connection->commands)
            replayable += command.answers.size();
    EXPECT_EQ(replayable, answers);
    std::printf("%d writers killed: %zu whole answers read, %zu torn records named, file of %zu bytes\n", kills,
                answers, torn.size(), text.size());
    std::remove(path.c_str());
    std::remove(description.c_str());
}

} // namespace
} // namespace zelbridge::test
