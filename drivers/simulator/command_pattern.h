// Commands as a description writes them, literal text with {number} fields,
// matched against what an application sends, and the answers that quote
// those numbers back as {1}, {2}, ...
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

// The command without leading or trailing blanks and line ends, and with one
// space wherever it has a run of blanks: how a controller reads a line.
std::string NormaliseCommand(std::string_view text);
// Whether `came` is the command `recorded` as a controller reads both: blanks
// as NormaliseCommand leaves them, letters in either case. A recorded command
// that was cut short is matched by every command it begins.
bool SameCommand(std::string_view recorded, std::string_view came, bool recordedCut);

struct Number {
    std::string text;
    double value;
};

class CommandPattern {
public:
    static constexpr std::string_view kField = "{number}";

    // Throws std::invalid_argument for an empty text or a "{" that does not
    // open a {number} field: a typo there must not match literally.
    explicit CommandPattern(std::string_view text);

    // On a match, the numbers that took the places of the fields, in order.
    // `command` is normalised; words match whatever their case.
    bool Match(std::string_view command, std::vector<Number>& numbers) const;

    std::size_t FieldCount() const noexcept { return literals_.size() - 1; }
    // The normalised pattern, which two entries describing the same command share.
    const std::string& Text() const noexcept { return text_; }

private:
    std::string text_;
    // The text before, between and after the fields.
    std::vector<std::string> literals_;
};

// The highest {k} an answer quotes, 0 when it quotes none.
std::size_t HighestReference(std::string_view answer);
// The first {0} (or {0...}) an answer holds, which quotes no number; empty when none.
std::string ZeroReference(std::string_view answer);
// The answer with each {k} replaced by the text of the k-th number; a
// description is checked to quote only numbers its command has.
std::string ExpandAnswer(std::string_view answer, const std::vector<Number>& numbers);

} // namespace simulator
