// Whether a call writes anything besides forwarding it: trace lines or a
// record. Both settings are read when the module loads; this one flag lets
// the quick path of every entry point test them together.
#pragma once

#include <atomic>
#include <cstdint>

namespace zelbridge {

enum CallWriter : std::uint8_t {
    kTraceWrites = 1,
    kRecordingWrites = 2,
};

namespace detail {
// Zero before any constructor runs; set by the trace and the recorder as
// they start, cleared by the recorder when it closes.
inline std::atomic<std::uint8_t> callWriters{0};
} // namespace detail

inline bool QuietCalls() noexcept
{
    return detail::callWriters.load(std::memory_order_relaxed) == 0;
}

inline void SetCallWriter(CallWriter writer, bool writes) noexcept
{
    if (writes)
        detail::callWriters.fetch_or(writer, std::memory_order_relaxed);
    else
        detail::callWriters.fetch_and(static_cast<std::uint8_t>(~writer), std::memory_order_relaxed);
}

} // namespace zelbridge
