// A scoped timer around one generic call: a TIMER start line when created, an
// end line with the elapsed ticks when it goes out of scope.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelbridge {

class CallTimer {
public:
    // Entry point names are short and fixed; longer ones are cut, never overrun.
    static constexpr std::size_t kNameCapacity = 48;

    // A silent timer writes no start line, and an end line only for a call
    // that took at least one tick.
    explicit CallTimer(const char* name, bool silent = false) noexcept;
    ~CallTimer();
    CallTimer(const CallTimer&) = delete;
    CallTimer& operator=(const CallTimer&) = delete;

private:
    std::int32_t startTick_;
    char name_[kNameCapacity];
    bool silent_;
};

} // namespace zelbridge
