// The loopback driver's error codes and the texts TranslateError gives them.
#pragma once

#include <cstdint>

namespace loopback {

// Negative, like every failing driver result, and clear of Zelbridge's own
// FUNCTION_NOT_AVAILABLE (-1034), so that a caller can tell who failed.
enum ErrorCode : std::int32_t {
    kNoError = 0,
    kUnknownCommand = -201,
    kNoAnswer = -202,
    kBufferTooSmall = -203,
    kInvalidArgument = -204,
    kNotConnected = -205,
    kTooManyConnections = -206,
    kAnswerQueueFull = -207,
    kCommandTooLong = -208,
    kNotSupported = -209,
    kNoSuchDevice = -210,
};

// The text for `code`, or null for a code the driver never gives.
const char* ErrorText(std::int32_t code) noexcept;

} // namespace loopback
