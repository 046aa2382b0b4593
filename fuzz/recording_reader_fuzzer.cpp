// Fuzzes the simulator's recording reader: any text must give either a
// recording or a reason naming its record, and each recorded connection must
// replay its own commands, then fail on one it does not hold.
#include "recording.h"
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
    const simulator::LoadedRecording loaded = simulator::ParseRecording(text, "fuzz.jsonl");
    if (!loaded.recording) {
        if (loaded.reason.find(", record ") == std::string::npos && loaded.reason.find("out of memory") == std::string::npos)
            std::abort();
        return 0;
    }
    auto errors = std::make_shared<simulator::Description>();
    errors->errors = loaded.recording->errors;
    for (const auto& connection : loaded.recording->connections) {
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
