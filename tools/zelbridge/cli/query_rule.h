// Which commands ask for an answer, and what an answer is returned as. The
// Python package keeps the same rule, and both are tested against
// tests/data/query_cases.json.
#pragma once

#include <string>
#include <string_view>

namespace zelbridge::tool {

// A query is a command whose first word ends in "?": "*IDN?", "POS? X".
// Blanks are the ASCII ones controllers read (space, tab, line ends,
// vertical tab, form feed): a controller reads bytes, so a non-ASCII space
// belongs to a word. The command ends at its first zero, as the driver sees it.
inline bool IsQuery(std::string_view command) noexcept
{
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    command = command.substr(0, command.find('\0'));
    const std::string_view::size_type first = command.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return false;
    const std::string_view::size_type end = command.find_first_of(kBlanks, first);
    return command[(end == std::string_view::npos ? command.size() : end) - 1] == '?';
}

// Controllers often end an answer with a line end, which is not returned.
inline std::string TrimmedAnswer(std::string answer)
{
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    return answer;
}

} // namespace zelbridge::tool
