// One pass over a JSON text that finds its first syntax error and where each
// value starts, by JSON pointer, so that a message about a value can point
// into the file: nlohmann's document keeps no positions.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace simulator {

struct TextPosition {
    std::size_t line;
    // Counted in bytes, as nlohmann counts them.
    std::size_t column;
};

// The line and column, both from 1, of the byte at `offset`.
TextPosition PositionOf(std::string_view text, std::size_t offset);

class JsonPositions {
public:
    // Values nested deeper than this are never the subject of a message.
    static constexpr std::size_t kDeepestRecorded = 4;

    // What makes the text unusable, and where.
    struct Problem {
        std::size_t offset;
        std::string message;
    };

    explicit JsonPositions(std::string_view text);

    // The offset of the value at `pointer`, or of the nearest value that
    // encloses it and has one.
    std::size_t OffsetOf(nlohmann::json::json_pointer pointer) const;

    // A syntax error, or a key given twice in one object: nlohmann would keep
    // the last of the two, but a description that says a thing twice is
    // taken for a mistake.
    const std::optional<Problem>& problem() const noexcept { return problem_; }

private:
    friend class PositionRecorder;
    std::unordered_map<std::string, std::size_t> offsets_;
    std::optional<Problem> problem_;
};

} // namespace simulator
