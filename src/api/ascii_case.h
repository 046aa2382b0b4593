// ASCII case folding of library names: only a to z change, whatever the C
// runtime's locale says, so bytes of 0x80 and above stay as they are.
#pragma once

#include <string>

namespace zelbridge {

inline std::string AsciiUpperCase(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace zelbridge
