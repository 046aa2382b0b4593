// A scoped timer around one generic call: a TIMER start line when created, an
// end line with the elapsed ticks when it goes out of scope.
#pragma once

#include "diag/trace_stream.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

namespace zelbridge {

class CallTimer {
public:
    // Entry point names are short and fixed; longer ones are cut, never overrun.
    static constexpr std::size_t kNameCapacity = 48;

    // A silent timer writes no start line, and an end line only for a call
    // that took at least one tick. Nothing happens, not even a reading of
    // the clock, while the trace is off, which is fixed for the life of the
    // process.
    explicit CallTimer(const char* name, bool silent = false) noexcept : silent_(silent)
    {
        if (!TraceStream::Instance().disabled()) {
            startTick_ = static_cast<std::int32_t>(platform::TickCount());
            Start(name);
        }
    }
    ~CallTimer()
    {
        if (!TraceStream::Instance().disabled())
            End(static_cast<std::int32_t>(platform::TickCount()));
    }
    CallTimer(const CallTimer&) = delete;
    CallTimer& operator=(const CallTimer&) = delete;

private:
    void Start(const char* name) noexcept;
    void End(std::int32_t now) noexcept;

    std::int32_t startTick_ = 0;
    char name_[kNameCapacity];
    bool silent_;
};

} // namespace zelbridge
