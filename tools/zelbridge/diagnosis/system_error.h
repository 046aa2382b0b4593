// The system's last-error value and its text, taken together at once.
#pragma once

#include "platform/platform.h"

#include <cctype>
#include <cstdint>
#include <string>

namespace zelbridge::tool {

struct SystemError {
    std::uint32_t code = 0;
    std::string text;

    // "error 126: The specified module could not be found."
    std::string Describe() const { return "error " + std::to_string(code) + ": " + text; }
};

// Windows messages are read without their inserts filled ("Bad EXE format for
// %1."): the first insert names the file the error is about, the others are
// dropped. Other systems' messages have no inserts and are left alone.
inline std::string FillInserts(const std::string& text, const std::string& subject)
{
#if defined(_WIN32)
    std::string filled;
    for (std::string::size_type at = 0; at < text.size(); ++at) {
        const std::string::size_type digits = at + 1;
        std::string::size_type end = digits;
        while (text[at] == '%' && end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        if (end == digits) {
            // "%%" is a percent sign.
            filled += text[at];
            at += text.compare(at, 2, "%%") == 0 ? 1 : 0;
            continue;
        }
        // A format of the insert, as in "%1!s!", goes with it.
        std::string::size_type next = end;
        if (end < text.size() && text[end] == '!' && text.find('!', end + 1) != std::string::npos)
            next = text.find('!', end + 1) + 1;
        if (text.compare(digits, end - digits, "1") == 0)
            filled += subject.empty() ? "the file" : subject;
        at = next - 1;
    }
    return filled;
#else
    static_cast<void>(subject);
    return text;
#endif
}

// Read it before anything else runs: freeing memory or writing output may
// overwrite the value a failed load left. `subject` is the file the error is about.
inline SystemError CaptureLastError(const std::string& subject = {})
{
    SystemError error;
    error.code = platform::LastError();
    char text[512];
    platform::DescribeError(error.code, text, sizeof text);
    error.text = FillInserts(text, subject);
    return error;
}

} // namespace zelbridge::tool
