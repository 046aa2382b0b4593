// Reading the time from the test's variable when it holds a time.
#include "simulated_clock.h"

#include "platform/platform.h"

#include <charconv>
#include <cstdint>
#include <cstring>

namespace simulator {

Clock::time_point SimulatedNow() noexcept
{
    if (const char* set = zelbridge::platform::Setting(kClockVariable)) {
        std::uint64_t milliseconds = 0;
        const char* end = set + std::strlen(set);
        const std::from_chars_result read = std::from_chars(set, end, milliseconds);
        // The steady clock counts nanoseconds in 64 bits: about 292 years.
        if (read.ec == std::errc() && read.ptr == end && read.ptr != set && milliseconds < (std::uint64_t{1} << 43))
            return Clock::time_point(std::chrono::milliseconds(milliseconds));
    }
    return Clock::now();
}

} // namespace simulator
