// zelbridge replay: reads a recording, says what it holds, and replays every
// recorded connection through the module and the simulator, command by
// command, telling where the replay leaves the recording.
#include "cli/bridge_session.h"
#include "cli/subcommands.h"
#include "cli/tool_errors.h"
#include "recording.h"

#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

#ifndef ZELBRIDGE_SIMULATOR_FILE
#error "the build names the simulator driver file"
#endif

namespace zelbridge::tool {
namespace {

simulator::LoadedRecording ReadRecording(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw Failure("cannot open " + path);
    std::ostringstream text;
    text << file.rdbuf();
    if (!simulator::IsRecording(text.str()))
        throw Failure(path + " is not a recording: its first line is not a record with an \"entry\"");
    return simulator::ParseRecording(text.str(), path);
}

// What a command got, in the form the recording and the replay are compared in.
std::string Outcome(const BridgeSession::Reply& reply, const std::vector<std::string>& answers)
{
    std::string outcome = reply.failed ? reply.error : "ok";
    for (const std::string& answer : answers)
        outcome += " \"" + answer + "\"";
    return outcome;
}

} // namespace

int RunReplay(const Invocation& request, std::ostream& out)
{
    const std::string& path = request.commands.front();
    const simulator::LoadedRecording loaded = ReadRecording(path);
    if (!loaded.recording)
        throw Failure(loaded.reason);
    const simulator::Recording& recording = *loaded.recording;
    std::size_t commands = 0;
    for (const auto& connection : recording.connections)
        commands += connection->commands.size();
    out << path << ": " << recording.records << " records, " << recording.connections.size() << " connections, "
        << commands << " commands, " << recording.errors.size() << " error texts\n";

    // Every connection first, in the recorded order, as the simulator maps them by order of connect.
    const BridgeModule bridge;
    Link link;
    link.kind = Link::Kind::kUsb;
    link.option = "--usb";
    link.value = link.text = path;
    std::vector<std::unique_ptr<BridgeSession>> sessions;
    for (std::size_t i = 0; i < recording.connections.size(); ++i)
        sessions.push_back(std::make_unique<BridgeSession>(bridge, ZELBRIDGE_SIMULATOR_FILE, "SIM_", link));

    std::size_t replayed = 0;
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        const simulator::RecordedConnection& connection = *recording.connections[i];
        out << "connection " << i + 1 << " (connected in record " << connection.record << "): "
            << connection.commands.size() << " commands\n";
        for (const simulator::RecordedCommand& command : connection.commands) {
            const BridgeSession::Reply reply = sessions[i]->Submit(command.text);
            std::vector<std::string> answers;
            for (BridgeSession::Reply answer; (answer = sessions[i]->TakeAnswer()).answer;)
                answers.push_back(*answer.answer);
            std::vector<std::string> recordedAnswers;
            for (const simulator::RecordedAnswer& answer : command.answers)
                recordedAnswers.push_back(answer.text);
            const std::string outcome = Outcome(reply, answers);
            const bool same = reply.failed == (command.result != 0) && answers == recordedAnswers;
            out << "  record " << command.record << ": " << command.text << " => " << outcome << "\n";
            if (!same) {
                out << "replay leaves the recording at record " << command.record << "\n";
                return kFailure;
            }
            ++replayed;
        }
    }
    out << "replays cleanly: " << replayed << " of " << commands << " commands\n";
    return kSuccess;
}

} // namespace zelbridge::tool
