// What a process has left of the resources a library load can take and an
// unload must give back: thread-storage slots and memory.
#pragma once

#include <cstddef>
#include <optional>

namespace zelbridge::test {

// The thread-storage slots (TlsAlloc) or keys (pthread_key_create) the
// process can still take, counted by taking them all and giving them back.
int FreeThreadSlots();
// The memory the process holds: committed private memory on Windows, the
// heap's allocated bytes elsewhere. None under a sanitizer, whose runtime
// keeps 64 bytes of its own for each static object a library registers for
// destruction at each load, and never gives them back.
std::optional<std::size_t> HeldMemory();

} // namespace zelbridge::test
