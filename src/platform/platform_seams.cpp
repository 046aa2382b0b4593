// The replaceable tick source and debug sink, shared by both platform layers.
#include "platform/platform.h"
#include "platform/platform_native.h"

#include <atomic>

namespace zelbridge::platform {
namespace {

std::atomic<TickSource> tickSource{nullptr};
std::atomic<DebugSink> debugSink{nullptr};

} // namespace

std::uint32_t TickCount() noexcept
{
    const TickSource source = tickSource.load(std::memory_order_relaxed);
    return source ? source() : native::TickCount();
}

void DebugOutput(const char* text) noexcept
{
    const DebugSink sink = debugSink.load(std::memory_order_relaxed);
    if (sink)
        sink(text);
    else
        native::DebugOutput(text);
}

void SetTickSource(TickSource source) noexcept { tickSource.store(source); }
void SetDebugSink(DebugSink sink) noexcept { debugSink.store(sink); }

} // namespace zelbridge::platform
