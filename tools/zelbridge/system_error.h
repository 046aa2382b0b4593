// The system's last-error value and its text, taken together at once.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>

namespace zelbridge::tool {

struct SystemError {
    std::uint32_t code = 0;
    std::string text;

    // "error 126: The specified module could not be found."
    std::string Describe() const { return "error " + std::to_string(code) + ": " + text; }
};

// Read it before anything else runs: freeing memory or writing output may
// overwrite the value a failed load left.
inline SystemError CaptureLastError()
{
    SystemError error;
    error.code = platform::LastError();
    char text[512];
    platform::DescribeError(error.code, text, sizeof text);
    error.text = text;
    return error;
}

} // namespace zelbridge::tool
