// The texts of the loopback driver's error codes.
#include "loopback_errors.h"

#include "api/driver_contract.h"

namespace loopback {
namespace {

struct ErrorEntry {
    std::int32_t code;
    const char* text;
};

constexpr ErrorEntry kErrors[] = {
    {kNoError, "no error"},
    {kUnknownCommand, "unknown command"},
    {kNoAnswer, "no answer pending"},
    {kBufferTooSmall, "buffer too small"},
    {kInvalidArgument, "invalid argument"},
    {kNotConnected, "not connected"},
    {kTooManyConnections, "too many connections"},
    {kAnswerQueueFull, "answer queue full: read the answers first"},
    {kCommandTooLong, "command too long"},
    {kNotSupported, "not supported by the loopback driver"},
    {kNoSuchDevice, "no such device"},
    {FUNCTION_NOT_AVAILABLE, FUNCTION_NOT_AVAILABLE_TEXT},
};

} // namespace

const char* ErrorText(std::int32_t code) noexcept
{
    for (const ErrorEntry& entry : kErrors)
        if (entry.code == code)
            return entry.text;
    return nullptr;
}

} // namespace loopback
