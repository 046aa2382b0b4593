// Which commands ask for an answer. The Python package keeps the same rule,
// and both are tested against tests/data/query_cases.json.
#pragma once

#include <string_view>

namespace zelbridge::tool {

// A query is a command whose first word ends in "?": "*IDN?", "POS? X".
// Blanks are spaces, tabs and line ends, as controllers read them.
inline bool IsQuery(std::string_view command) noexcept
{
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::string_view::size_type first = command.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return false;
    const std::string_view::size_type end = command.find_first_of(kBlanks, first);
    return command[(end == std::string_view::npos ? command.size() : end) - 1] == '?';
}

} // namespace zelbridge::tool
