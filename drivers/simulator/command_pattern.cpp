// Matching commands against patterns and filling in answers.
#include "command_pattern.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace simulator {
namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != Upper(prefix[i]))
            return false;
    return true;
}

std::size_t SkipDigits(std::string_view text, std::size_t at)
{
    while (at < text.size() && IsDigit(text[at]))
        ++at;
    return at;
}

// The end of the number that starts at `at` ([+-]digits[.digits][e[+-]digits],
// with digits on at least one side of the point), or `at` when none does.
std::size_t ScanNumber(std::string_view text, std::size_t at)
{
    std::size_t end = at;
    if (end < text.size() && (text[end] == '+' || text[end] == '-'))
        ++end;
    const std::size_t integerEnd = SkipDigits(text, end);
    bool digits = integerEnd > end;
    end = integerEnd;
    if (end < text.size() && text[end] == '.') {
        const std::size_t fractionEnd = SkipDigits(text, end + 1);
        digits = digits || fractionEnd > end + 1;
        end = fractionEnd;
    }
    if (!digits)
        return at;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        const std::size_t exponentEnd = SkipDigits(text, exponent);
        if (exponentEnd > exponent)
            end = exponentEnd;
    }
    return end;
}

// A finite value for the number text, read the same whatever the locale.
bool ReadNumber(std::string_view text, double& value)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

// The k of a "{k}" at `at` (k of one to four digits) and the position after
// it; none when there is no such field there. A k that starts with 0 quotes
// no number and is given as 0.
std::optional<std::size_t> ReferenceAt(std::string_view answer, std::size_t at, std::size_t& end)
{
    if (answer[at] != '{')
        return std::nullopt;
    const std::size_t close = SkipDigits(answer, at + 1);
    if (close == at + 1 || close >= answer.size() || answer[close] != '}' || close - at > 5)
        return std::nullopt;
    end = close + 1;
    if (answer[at + 1] == '0')
        return 0;
    std::size_t k = 0;
    for (std::size_t digit = at + 1; digit < close; ++digit)
        k = k * 10 + static_cast<std::size_t>(answer[digit] - '0');
    return k;
}

} // namespace

std::string NormaliseCommand(std::string_view text)
{
    std::string normalised;
    normalised.reserve(text.size());
    bool pendingBlank = false;
    for (const char c : text) {
        if (IsBlank(c)) {
            pendingBlank = !normalised.empty();
            continue;
        }
        if (pendingBlank)
            normalised += ' ';
        pendingBlank = false;
        normalised += c;
    }
    return normalised;
}

bool SameCommand(std::string_view recorded, std::string_view came, bool recordedCut)
{
    const std::string expected = NormaliseCommand(recorded);
    const std::string actual = NormaliseCommand(came);
    if (recordedCut ? actual.size() < expected.size() : actual.size() != expected.size())
        return false;
    return StartsWithIgnoringCase(actual, expected);
}

CommandPattern::CommandPattern(std::string_view text) : text_(NormaliseCommand(text))
{
    if (text_.empty())
        throw std::invalid_argument("a command may not be empty");
    std::string_view rest = text_;
    for (;;) {
        const std::size_t open = rest.find('{');
        literals_.emplace_back(rest.substr(0, open));
        if (open == std::string_view::npos)
            break;
        if (rest.substr(open, kField.size()) != kField)
            throw std::invalid_argument("a \"{\" in a command must open a " + std::string(kField) + " field");
        rest.remove_prefix(open + kField.size());
    }
}

bool CommandPattern::Match(std::string_view command, std::vector<Number>& numbers) const
{
    numbers.clear();
    std::size_t at = 0;
    for (std::size_t i = 0; i < literals_.size(); ++i) {
        const std::string& literal = literals_[i];
        if (!StartsWithIgnoringCase(command.substr(at), literal))
            return false;
        at += literal.size();
        if (i == FieldCount())
            break;
        const std::size_t end = ScanNumber(command, at);
        Number number{std::string(command.substr(at, end - at)), 0.0};
        if (end == at || !ReadNumber(number.text, number.value))
            return false;
        numbers.push_back(std::move(number));
        at = end;
    }
    return at == command.size();
}

std::size_t HighestReference(std::string_view answer)
{
    std::size_t highest = 0;
    for (std::size_t at = 0; at < answer.size(); ++at) {
        std::size_t end = 0;
        highest = std::max(highest, ReferenceAt(answer, at, end).value_or(0));
    }
    return highest;
}

std::string ZeroReference(std::string_view answer)
{
    for (std::size_t at = 0; at < answer.size(); ++at) {
        std::size_t end = 0;
        if (ReferenceAt(answer, at, end) == std::size_t{0})
            return std::string(answer.substr(at, end - at));
    }
    return "";
}

std::string ExpandAnswer(std::string_view answer, const std::vector<Number>& numbers)
{
    std::string expanded;
    expanded.reserve(answer.size());
    for (std::size_t at = 0; at < answer.size();) {
        std::size_t end = 0;
        const std::size_t k = ReferenceAt(answer, at, end).value_or(0);
        if (k == 0 || k > numbers.size()) {
            expanded += answer[at++];
            continue;
        }
        expanded += numbers[k - 1].text;
        at = end;
    }
    return expanded;
}

} // namespace simulator
