// Reading the time from the test's file when the variable names one.
#include "simulated_clock.h"

#include "platform/platform.h"

#include <charconv>
#include <cstdint>
#include <cstdio>

namespace simulator {
namespace {

// The time the file holds, in milliseconds, or false.
bool ReadClockFile(const char* path, std::uint64_t& milliseconds) noexcept
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    char text[32];
    std::size_t size = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r' || text[size - 1] == ' '))
        --size;
    const std::from_chars_result read = std::from_chars(text, text + size, milliseconds);
    // The steady clock counts nanoseconds in 64 bits: about 292 years.
    return size > 0 && read.ec == std::errc() && read.ptr == text + size && milliseconds < (std::uint64_t{1} << 43);
}

} // namespace

Clock::time_point SimulatedNow() noexcept
{
    std::uint64_t milliseconds = 0;
    const char* path = zelbridge::platform::Setting(kClockVariable);
    if (path && *path != '\0' && ReadClockFile(path, milliseconds))
        return Clock::time_point(std::chrono::milliseconds(milliseconds));
    return Clock::now();
}

} // namespace simulator
