// Fuzzes the recording reader: any text must give either a recording, whose
// passed-over records are each named, or a reason in words naming its
// record, never a library's own message, and each
// recorded connection must replay its own commands in the simulator, then
// fail on one it does not hold.
#include "recording/recording_reader.h"
#include "session.h"
#include "simulator_errors.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const simulator::LoadedRecording loaded = zelbridge::recording::ParseRecording(text, "fuzz.jsonl");
    if (!loaded.recording) {
        const std::string& reason = loaded.reason;
        if ((reason.find(", record ") == std::string::npos && reason.find("out of memory") == std::string::npos) ||
            reason.find("json.exception") != std::string::npos || reason.find('\n') != std::string::npos)
            std::abort();
        return 0;
    }
    const simulator::Recording& recording = *loaded.recording;
    // Every record the reader passed over is named: its line, an offset in
    // the text, one line of its own words.
    for (const zelbridge::recording::RecordFault& fault : recording.faults) {
        if (fault.record == 0 || fault.record > recording.records || fault.offset >= size || fault.reason.empty() ||
            fault.reason.find('\n') != std::string::npos || fault.reason.size() > 1000)
            std::abort();
    }
    auto errors = std::make_shared<simulator::Description>();
    errors->errors = recording.errors;
    for (const auto& connection : recording.connections) {
        if (connection->process >= recording.processes.size())
            std::abort();
        simulator::Session session(errors, connection, true);
        for (const simulator::RecordedCommand& command : connection->commands) {
            if (session.Execute(command.text, {}) != command.result)
                std::abort();
            session.TakeError();
            bool waiting = false;
            while (session.ReadyAnswer(simulator::Clock::time_point::max(), waiting))
                session.DropAnswer();
        }
        if (session.Execute("\x01 not recorded", {}) != simulator::kReplayMismatch || session.mismatch().empty())
            std::abort();
    }
    return 0;
}
