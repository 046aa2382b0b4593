// Counting free thread-storage slots and held memory, per operating system.
#include "process_resources.h"

#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <malloc.h>
#include <pthread.h>

// Defined only when a sanitizer's runtime is linked in.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));
#endif

namespace zelbridge::test {

#if defined(_WIN32)

int FreeThreadSlots()
{
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(slot);
    for (DWORD slot : taken)
        TlsFree(slot);
    return static_cast<int>(taken.size());
}

std::optional<std::size_t> HeldMemory()
{
    std::size_t committed = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
    }
    return committed;
}

#else

int FreeThreadSlots()
{
    std::vector<pthread_key_t> taken;
    for (pthread_key_t key; pthread_key_create(&key, nullptr) == 0;)
        taken.push_back(key);
    for (pthread_key_t key : taken)
        pthread_key_delete(key);
    return static_cast<int>(taken.size());
}

std::optional<std::size_t> HeldMemory()
{
    if (__sanitizer_get_current_allocated_bytes)
        return std::nullopt;
    return mallinfo2().uordblks;
}

#endif

} // namespace zelbridge::test
