// How a call of the test graph library is written into the shared log: the
// function's name and its arguments, words as numbers and doubles as the hex
// digits of their bit patterns, so that one changed bit shows.
#pragma once

#include "graph/bit_exact_call.h"
#include "zelbridge.h"

#include <cinttypes>
#include <cstdio>
#include <string>

namespace zelbridge::test {

// The scripted result under this name holds the graph library back in its
// initialisation for that many milliseconds.
inline constexpr char kGraphLoadDelayKey[] = "<load delay ms>";

inline std::string GraphArgumentText(const ZelWord& word)
{
    return std::to_string(static_cast<long long>(word));
}

// Read where the caller stored it: a copy could already have lost a bit.
inline std::string GraphArgumentText(const double& value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIx64, ExactBits(value));
    return text;
}

template <typename... Arguments> std::string GraphCallText(const char* function, const Arguments&... arguments)
{
    std::string text = std::string(function) + "(";
    const char* separator = "";
    ((text += separator + GraphArgumentText(arguments), separator = ","), ...);
    return text + ")";
}

} // namespace zelbridge::test
