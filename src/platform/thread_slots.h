// What the platform layer's per-OS code calls when a thread of the process
// ends where the operating system does not run slot destructors itself.
#pragma once

namespace zelbridge::platform {

// Runs each slot's thread-end function with the calling thread's value.
void EndThread() noexcept;

} // namespace zelbridge::platform
