// The description of a simulated controller, read from a JSON file: the
// commands it understands and what each one does, its properties, its
// errors, and what it does with a command it does not know.
#pragma once

#include "command_pattern.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

struct Property {
    double initial;
    std::optional<double> min;
    std::optional<double> max;
    // Written after the value, with a blank, in the getter's answer.
    std::string units;
    // Fixed decimals in the getter's answer; without, the shortest exact form.
    std::optional<int> decimals;
    // Raised by a setter whose value lies outside [min, max].
    std::int32_t limitError;
};

// What the controller does with one command.
struct Response {
    enum class Action { Answer, GetProperty, SetProperty, RaiseError };

    explicit Response(Action what) : action(what) {}

    Action action;
    // Answer: the text, which may quote the command's numbers as {1}, {2}, ...
    std::string answer;
    // GetProperty, SetProperty: the index into Description::properties.
    std::size_t property = 0;
    // RaiseError: the code.
    std::int32_t error = 0;
    // How long after the command its answer is ready.
    std::chrono::milliseconds delay{0};
};

struct CommandRule {
    CommandPattern pattern;
    Response response;
};

struct Description {
    // Tried in this order, the first match wins: property getters and
    // setters, answers, error-raising commands, each in the file's order.
    std::vector<CommandRule> rules;
    std::vector<Property> properties;
    std::map<std::int32_t, std::string> errors;
    // Answer or RaiseError; without it, the simulator's own kUnknownCommand.
    std::optional<Response> unknownCommand;

    // The response to a normalised command and the numbers it holds, or null.
    const Response* Find(std::string_view command, std::vector<Number>& numbers) const;
};

struct LoadedDescription {
    // Null when the file could not be used.
    std::shared_ptr<const Description> description;
    // Why not: kNoDescription or kInvalidDescription ...
    std::int32_t failure = 0;
    // ... and, with the file name and for an invalid file the line and
    // column, what is wrong.
    std::string reason;
};

// Reads and checks the description file at `path`.
LoadedDescription LoadDescription(const std::string& path) noexcept;
// Checks a description's text; `fileName` is only used in messages.
LoadedDescription ParseDescription(std::string_view text, const std::string& fileName) noexcept;

} // namespace simulator
