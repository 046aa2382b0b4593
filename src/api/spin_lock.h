// A lock that needs no construction at run time and no destruction: for state
// that calls may reach while the process exits, after static destructors have
// run (a std::mutex is destroyed with them where the runtime gives it a
// destructor). Meant for sections of a few microseconds, where yielding the
// processor while waiting costs less than sleeping would.
#pragma once

#include <atomic>
#include <thread>

// Programs checked under valgrind's thread checkers tell them what the lock
// orders, which they cannot see in the atomic flag alone.
#if defined(ZELBRIDGE_VALGRIND_ANNOTATIONS)
#include <valgrind/helgrind.h>
#define ZELBRIDGE_LOCK_ACQUIRED(lock) ANNOTATE_HAPPENS_AFTER(lock)
#define ZELBRIDGE_LOCK_RELEASING(lock) ANNOTATE_HAPPENS_BEFORE(lock)
#else
#define ZELBRIDGE_LOCK_ACQUIRED(lock) ((void)0)
#define ZELBRIDGE_LOCK_RELEASING(lock) ((void)0)
#endif

namespace zelbridge {

class SpinLock {
public:
    constexpr SpinLock() noexcept = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void lock() noexcept
    {
        while (busy_.test_and_set(std::memory_order_acquire))
            std::this_thread::yield();
        ZELBRIDGE_LOCK_ACQUIRED(&busy_);
    }
    void unlock() noexcept
    {
        ZELBRIDGE_LOCK_RELEASING(&busy_);
        busy_.clear(std::memory_order_release);
    }

private:
    std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
};

} // namespace zelbridge
