// The TIMER lines of a generic call, written only while the trace is on.
#include "diag/call_timer.h"

#include <cstring>
#include <ostream>

namespace zelbridge {

void CallTimer::Start(const char* name) noexcept
{
    std::strncpy(name_, name, kNameCapacity - 1);
    name_[kNameCapacity - 1] = '\0';
    if (!silent_)
        TraceStream::Instance() << "TIMER: " << name_ << "  -- start " << startTick_ << std::endl;
}

void CallTimer::End(std::int32_t now) noexcept
{
    // Unsigned subtraction, so a wrap of the tick count between the two
    // readings still gives the true elapsed time.
    const auto elapsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(startTick_));
    if (elapsed != 0 || !silent_)
        TraceStream::Instance() << "TIMER: " << name_ << "  -- end " << now << " (" << elapsed << ")" << std::endl;
}

} // namespace zelbridge
