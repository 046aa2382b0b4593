// The replaceable tick source, debug sink and install-path source, shared by
// both platform layers.
#include "platform/platform.h"
#include "platform/platform_native.h"

#include <atomic>

namespace zelbridge::platform {
namespace {

std::atomic<TickSource> tickSource{nullptr};
std::atomic<DebugSink> debugSink{nullptr};
std::atomic<InstallPathSource> installPathSource{nullptr};

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

bool QueryInstallPathValue(char* buffer, std::uint32_t& size) noexcept
{
    const InstallPathSource source = installPathSource.load(std::memory_order_relaxed);
    return source ? source(buffer, size) : native::QueryInstallPathValue(buffer, size);
}

void SetTickSource(TickSource source) noexcept { tickSource.store(source); }
void SetDebugSink(DebugSink sink) noexcept { debugSink.store(sink); }
void SetInstallPathSource(InstallPathSource source) noexcept { installPathSource.store(source); }

} // namespace zelbridge::platform
