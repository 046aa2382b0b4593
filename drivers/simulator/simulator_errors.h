// The simulator's own error codes, the texts TranslateError gives them, and
// so the codes a description file may not use.
#pragma once

#include <cstdint>

namespace simulator {

// X(name, code, text). Negative like every failing driver result, clear of
// Zelbridge's own FUNCTION_NOT_AVAILABLE (-1034) and of the loopback
// driver's codes, so that a caller can tell who failed.
#define SIMULATOR_ERRORS(X)                                                                                            \
    X(kNoError, 0, "no error")                                                                                         \
    X(kUnknownCommand, -301, "unknown command")                                                                        \
    X(kNoAnswer, -302, "no answer pending")                                                                            \
    X(kAnswerNotReady, -303, "the answer is not ready yet: poll ZelGetAnswerSize until it is not 0")                   \
    X(kBufferTooSmall, -304, "buffer too small")                                                                       \
    X(kInvalidArgument, -305, "invalid argument")                                                                      \
    X(kNotConnected, -306, "not connected")                                                                            \
    X(kNoDescription, -307, "the description file cannot be read")                                                    \
    X(kInvalidDescription, -308, "the description file is invalid")                                                   \
    X(kAnswerQueueFull, -309, "answer queue full: read the answers first")                                            \
    X(kCommandTooLong, -310, "command too long")                                                                       \
    X(kNotSimulated, -311, "not simulated")                                                                            \
    X(kTooManyConnections, -312, "too many connections")                                                               \
    X(kOutOfMemory, -313, "out of memory")                                                                             \
    X(kReplayMismatch, -314, "the session left its recording")

enum ErrorCode : std::int32_t {
#define SIMULATOR_ERROR_CODE(name, code, text) name = code,
    SIMULATOR_ERRORS(SIMULATOR_ERROR_CODE)
#undef SIMULATOR_ERROR_CODE
};

// The text for one of the codes above, or null for any other code.
constexpr const char* OwnErrorText(std::int32_t code) noexcept
{
    switch (code) {
#define SIMULATOR_ERROR_TEXT(name, code, text)                                                                         \
    case name:                                                                                                         \
        return text;
        SIMULATOR_ERRORS(SIMULATOR_ERROR_TEXT)
#undef SIMULATOR_ERROR_TEXT
    default:
        return nullptr;
    }
}

} // namespace simulator
