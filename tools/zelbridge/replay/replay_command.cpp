// zelbridge replay: reads a recording, says what it holds, and replays every
// recorded connection, process by process, through the module and the
// simulator beside the tool, judging each command by what was recorded: its
// result, the error GetError gave and its answers.
#include "cli/bridge_session.h"
#include "cli/subcommands.h"
#include "cli/tool_errors.h"
#include "os/os_services.h"
#include "recording/recording_reader.h"
#include "replay/left_out_records.h"
#include "replay/replay_judgement.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#ifndef ZELBRIDGE_SIMULATOR_FILE
#error "the build names the simulator driver file"
#endif

namespace zelbridge::tool {
namespace {

using recording::RecordedAnswer;
using recording::RecordedCommand;
using recording::Recording;

// The simulator built or installed with this tool, by its full name, so that
// no install path can put another one, or none, in its place: beside the
// tool, or once installed off Windows in the library folder next to it.
std::string SimulatorBesideTheTool()
{
    const std::filesystem::path folder = std::filesystem::path(os::ProgramPath()).parent_path();
    std::vector<std::filesystem::path> places{folder / ZELBRIDGE_SIMULATOR_FILE};
#if !defined(_WIN32)
    places.push_back(folder.parent_path() / "lib" / ZELBRIDGE_SIMULATOR_FILE);
#endif
    std::string looked;
    for (const std::filesystem::path& place : places) {
        std::error_code error;
        if (std::filesystem::is_regular_file(place, error))
            return place.string();
        looked += (looked.empty() ? "" : " or ") + place.string();
    }
    throw Failure("the simulator " ZELBRIDGE_SIMULATOR_FILE " is not beside the tool: looked for " + looked);
}

// Replays one connection's commands as the application sent them.
class Replayer {
public:
    Replayer(const Recording& recording, BridgeSession& session, std::int32_t timeoutMs)
        : session_(session), timeout_(timeoutMs),
          recordedTexts_([&recording](std::int32_t code) {
              const auto found = recording.errors.find(code);
              return found == recording.errors.end() ? std::string() : found->second;
          }),
          replayedTexts_([&session](std::int32_t code) { return session.ErrorText(code); })
    {
    }

    // Sends the command as recorded, then collects the error before the
    // answers, whose reads would otherwise collect it; waits for each
    // recorded answer up to the timeout, and takes any more that are ready.
    Replayed Replay(const RecordedCommand& command)
    {
        Replayed replayed;
        replayed.result = session_.SendCommand(command.text);
        replayed.error = session_.TakeError();
        using Clock = std::chrono::steady_clock;
        for (std::size_t i = 0;; ++i) {
            const Clock::time_point deadline = Clock::now() + timeout_;
            BridgeSession::Reply reply = session_.TakeAnswer();
            while (i < command.answers.size() && !reply.failed && !reply.answer && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                reply = session_.TakeAnswer();
            }
            if (reply.failed)
                replayed.answerFailure = reply.error;
            if (!reply.answer)
                return replayed;
            replayed.answers.push_back(*reply.answer);
        }
    }

    std::string Outcome(const Replayed& replayed) const { return tool::Outcome(replayed, replayedTexts_); }
    std::string Differences(const RecordedCommand& command, const Replayed& replayed) const
    {
        return tool::Differences(command, replayed, static_cast<std::int32_t>(timeout_.count()), recordedTexts_,
                                 replayedTexts_);
    }

private:
    BridgeSession& session_;
    const std::chrono::milliseconds timeout_;
    const ErrorTexts recordedTexts_;
    const ErrorTexts replayedTexts_;
};

// Where the recording holds only the first part of a command or an answer:
// the recorded part was replayed and compared, the rest never can be.
std::vector<std::string> CutParts(const RecordedCommand& command, std::vector<std::size_t>& records)
{
    std::vector<std::string> parts;
    if (command.cut) {
        parts.push_back("the command was recorded cut: its first " + std::to_string(command.text.size()) +
                        " characters were compared, the rest was not recorded");
        records.push_back(command.record);
    }
    for (const RecordedAnswer& answer : command.answers) {
        if (!answer.cut)
            continue;
        parts.push_back("the answer was recorded cut, " + std::to_string(answer.text.size()) +
                        (answer.length ? " of its " + std::to_string(*answer.length) + " characters"
                                       : " characters of a length not recorded"));
        records.push_back(answer.record);
    }
    return parts;
}

} // namespace

int RunReplay(const Invocation& request, std::ostream& out)
{
    const std::string& path = request.commands.front();
    const recording::LoadedRecording loaded = recording::LoadRecording(path);
    if (!loaded.recording)
        throw Failure(loaded.reason);
    const Recording& recording = *loaded.recording;
    std::size_t commands = 0;
    for (const auto& connection : recording.connections)
        commands += connection->commands.size();
    const recording::RecordCounts& counts = recording.counts;
    out << path << ": " << recording.records << " records, "
        << Plural(recording.processes.size(), "process", "processes") << ", " << recording.connections.size()
        << " connections, " << commands << " commands, " << recording.errors.size() << " error texts\n"
        << "records: " << Plural(counts.sessions, "session", "sessions") << ", " << counts.generic << " generic, "
        << counts.family << " family, " << counts.graph << " graph calls, "
        << Plural(recording.faults.size(), "record", "records") << " left out\n"
        << "texts are shown escaped (\\n, \\t, \\xNN for bytes that are not UTF-8), at most " << kShownLength
        << " characters of each, with its length\n";
    ListLeftOutRecords(recording, out);

    // Every connection first, in the recorded order, as the simulator maps them by order of connect.
    const std::string simulator = SimulatorBesideTheTool();
    const BridgeModule bridge;
    Link link;
    link.kind = Link::Kind::kUsb;
    link.option = "--usb";
    link.value = link.text = path;
    std::vector<std::unique_ptr<BridgeSession>> sessions;
    for (std::size_t i = 0; i < recording.connections.size(); ++i)
        sessions.push_back(std::make_unique<BridgeSession>(bridge, simulator, "SIM_", link));

    std::size_t replayed = 0;
    std::vector<std::size_t> cutRecords;
    for (std::size_t p = 0; p < recording.processes.size(); ++p) {
        const recording::RecordedProcess& process = recording.processes[p];
        std::size_t connections = 0;
        for (const auto& connection : recording.connections)
            connections += connection->process == p ? 1 : 0;
        if (process.pid)
            out << "process " << *process.pid << " (started "
                << (process.started.empty() ? "?" : ShownCommand(process.started)) << ", record " << process.record
                << "): " << connections << " connections\n";
        else
            out << "records without a process identifier, from record " << process.record << ": " << connections
                << " connections\n";
        for (std::size_t i = 0; i < sessions.size(); ++i) {
            const recording::RecordedConnection& connection = *recording.connections[i];
            if (connection.process != p)
                continue;
            out << "connection " << i + 1 << " (connected in record " << connection.record
                << "): " << connection.commands.size() << " commands\n";
            Replayer replayer(recording, *sessions[i], request.timeoutMs);
            for (const RecordedCommand& command : connection.commands) {
                const Replayed got = replayer.Replay(command);
                out << "  record " << command.record << ": " << ShownCommand(command.text) << " => "
                    << replayer.Outcome(got) << "\n";
                const std::string differences = replayer.Differences(command, got);
                if (!differences.empty()) {
                    out << differences << "\n"
                        << "replay leaves the recording at record " << command.record << "\n";
                    return kFailure;
                }
                for (const std::string& part : CutParts(command, cutRecords))
                    out << "record " << command.record << " " << ShownCommand(command.text) << ": " << part << "\n";
                ++replayed;
            }
        }
    }
    const std::string outOf = std::to_string(replayed) + " of " + std::to_string(commands) + " commands";
    const std::string leftOut = recording.faults.empty()
                                    ? ""
                                    : ", without the " + Plural(recording.faults.size(), "record", "records") +
                                          " left out";
    if (!cutRecords.empty()) {
        std::string records;
        for (const std::size_t record : cutRecords)
            records += (records.empty() ? "" : ", ") + std::to_string(record);
        out << "replays only what was recorded: " << Plural(cutRecords.size(), "text", "texts") << " recorded cut (record"
            << (cutRecords.size() == 1 ? " " : "s ") << records << "); " << outOf << leftOut << "\n";
        return kFailure;
    }
    if (!recording.faults.empty() && !request.skipBadRecords)
        throw Failure(FirstLeftOutRecord(recording, path) + "; the rest replays (" + outOf +
                      "); --skip-bad-records accepts a replay without them");
    out << "replays cleanly: " << outOf << leftOut << "\n";
    return kSuccess;
}

} // namespace zelbridge::tool
