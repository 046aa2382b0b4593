// Fuzzes the simulator's description reader: any text must give either a
// description or a reason with a line and column, and a description must
// answer any command without failing, while its axes move and after a reset.
#include "description.h"
#include "session.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const simulator::LoadedDescription loaded = simulator::ParseDescription(text, "fuzz.json");
    if (!loaded.description) {
        if (loaded.reason.find(", line ") == std::string::npos)
            std::abort();
        return 0;
    }
    // Each described command, with its fields filled in, and one unknown command.
    std::vector<std::string> commands{"?UNKNOWN?"};
    for (const simulator::CommandRule& rule : loaded.description->rules) {
        std::string command = rule.pattern.Text();
        for (std::size_t field; (field = command.find(simulator::CommandPattern::kField)) != std::string::npos;)
            command.replace(field, simulator::CommandPattern::kField.size(), "-1.5e1");
        commands.push_back(std::move(command));
    }
    simulator::Session session(loaded.description);
    // Twice through, a quarter of a second apart, so that queries meet axes
    // on the move, arrived or stopped.
    simulator::Clock::time_point now{};
    for (int round = 0; round < 2; ++round) {
        for (const std::string& command : commands) {
            now += std::chrono::milliseconds(250);
            session.Execute(command, now);
            bool waiting = false;
            session.ReadyAnswer(now + std::chrono::hours(24), waiting);
            session.DropAnswer();
            session.TakeError();
        }
    }
    return 0;
}
