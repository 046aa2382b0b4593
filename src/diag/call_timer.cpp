// TIMER lines around a generic call.
#include "diag/call_timer.h"

#include "diag/trace_stream.h"
#include "platform/platform.h"

#include <cstring>
#include <ostream>

namespace zelbridge {

CallTimer::CallTimer(const char* name, bool silent) noexcept
    : startTick_(static_cast<std::int32_t>(platform::TickCount())), silent_(silent)
{
    std::strncpy(name_, name, kNameCapacity - 1);
    name_[kNameCapacity - 1] = '\0';
    if (!silent_)
        TraceStream::Instance() << "TIMER: " << name_ << "  -- start " << startTick_ << std::endl;
}

CallTimer::~CallTimer()
{
    const auto now = static_cast<std::int32_t>(platform::TickCount());
    // Unsigned subtraction, so a wrap of the tick count between the two
    // readings still gives the true elapsed time.
    const auto elapsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(startTick_));
    if (elapsed != 0 || !silent_)
        TraceStream::Instance() << "TIMER: " << name_ << "  -- end " << now << " (" << elapsed << ")" << std::endl;
}

} // namespace zelbridge
