// The operating system's own tick count and debug output, behind the test seams.
#pragma once

#include <cstdint>

namespace zelbridge::platform::native {

std::uint32_t TickCount() noexcept;
void DebugOutput(const char* text) noexcept;

} // namespace zelbridge::platform::native
