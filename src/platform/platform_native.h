// The operating system's own tick count, debug output and install-path value,
// behind the test seams.
#pragma once

#include <cstdint>

namespace zelbridge::platform::native {

std::uint32_t TickCount() noexcept;
void DebugOutput(const char* text) noexcept;
bool QueryInstallPathValue(char* buffer, std::uint32_t& size) noexcept;

} // namespace zelbridge::platform::native
