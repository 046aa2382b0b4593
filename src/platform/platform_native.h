// The operating system's own tick count, debug output and install-path value,
// behind the test seams.
#pragma once

#include <cstdint>

namespace zelbridge::platform::native {

std::uint32_t TickCount() noexcept;
void DebugOutput(const char* text) noexcept;
bool QueryInstallPathValue(char* buffer, std::uint32_t& size) noexcept;

// The operating system's per-thread slots; `threadEnd` is run where the
// operating system runs it (POSIX), or from the module's thread-detach step.
bool CreateThreadSlot(std::uintptr_t& slot, void (*threadEnd)(void*)) noexcept;
void DeleteThreadSlot(std::uintptr_t slot) noexcept;
void* ThreadSlotValue(std::uintptr_t slot) noexcept;
bool SetThreadSlotValue(std::uintptr_t slot, void* value) noexcept;

} // namespace zelbridge::platform::native
