// A lock that needs no construction at run time and no destruction: for state
// that calls may reach while the process exits, after static destructors have
// run (a std::mutex is destroyed with them where the runtime gives it a
// destructor). Meant for sections of a few microseconds, where yielding the
// processor while waiting costs less than sleeping would.
#pragma once

#include <atomic>
#include <thread>

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
    }
    void unlock() noexcept { busy_.clear(std::memory_order_release); }

private:
    std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
};

} // namespace zelbridge
