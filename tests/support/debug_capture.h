// Captures what the module sends to the debugger output, one entry per message.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace zelbridge::test {

class DebugCapture {
public:
    DebugCapture()
    {
        Messages().clear();
        platform::SetDebugSink(&Append);
    }
    ~DebugCapture() { platform::SetDebugSink(nullptr); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::string>& messages() const { return Messages(); }
    // All messages run together, as a debugger would show them.
    std::string Text() const
    {
        std::string text;
        for (const std::string& message : Messages())
            text += message;
        return text;
    }
    void Clear() { Messages().clear(); }

private:
    static std::vector<std::string>& Messages()
    {
        static std::vector<std::string> messages;
        return messages;
    }
    static void Append(const char* text) { Messages().emplace_back(text); }
};

} // namespace zelbridge::test
