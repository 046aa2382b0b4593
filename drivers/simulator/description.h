// The description of a simulated controller, read from a JSON file: the
// commands it understands and what each one does, its properties and axes, its
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

// How a number is written in an answer.
struct NumberFormat {
    // Written after the value, with a blank.
    std::string units;
    // Fixed decimals; without, the shortest exact form.
    std::optional<int> decimals;
};

struct Property {
    double initial;
    std::optional<double> min;
    std::optional<double> max;
    NumberFormat format;
    // Raised by a setter whose value lies outside [min, max].
    std::int32_t limitError;
};

// An axis that takes time to move.
struct Axis {
    std::string name;
    double initial;
    // Where a home (reference) move goes.
    double home;
    double min;
    double max;
    // Units per second, and per second squared.
    double velocity;
    std::optional<double> acceleration;
    NumberFormat format;
    // Raised by a move whose target lies outside [min, max]; the move does not start.
    std::int32_t limitError;
};

// What the controller does with one command.
struct Response {
    enum class Action {
        Answer,
        // Several answers, one after the other and then from the first again.
        AnswerInTurn,
        // Takes the command and answers nothing.
        Accept,
        GetProperty,
        SetProperty,
        RaiseError,
        Reset,
        // On an axis:
        MoveTo,
        MoveBy,
        Stop,
        Home,
        ReadPosition,
        ReadOnTarget,
        ReadMoving,
    };

    explicit Response(Action what) : action(what) {}

    Action action;
    // Answer: the text, which may quote the command's numbers as {1}, {2}, ...
    std::string answer;
    // AnswerInTurn: the texts, each like `answer`.
    std::vector<std::string> answers;
    // The index into Description::properties, for an axis action into
    // Description::axes, for AnswerInTurn the connection's counter of turns.
    std::size_t index = 0;
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
    // Every form of every command, tried in this order, the first match
    // winning: property getters and setters, axis commands, answers,
    // error-raising commands, the reset, each in the file's order; but a
    // command written out in full before any with a {number} field, so that
    // "MOVE X 80" can raise an error that "MOVE X {number}" does not.
    std::vector<CommandRule> rules;
    std::vector<Property> properties;
    std::vector<Axis> axes;
    std::map<std::int32_t, std::string> errors;
    // Answer or RaiseError; without it, the simulator's own kUnknownCommand.
    std::optional<Response> unknownCommand;
    // How many AnswerInTurn responses there are, each with a counter per connection.
    std::size_t answersInTurn = 0;

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
