// Loading a library on its first use, once, whatever the number of threads
// making that first use: one thread claims the load, the others wait for its
// outcome. Lock-free, so that it can be constant-initialised (the MinGW mutex
// cannot) and a call after the first is one atomic read.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace zelbridge {

// Marks the thread as loading a driver library while it lives. A library's
// initialiser (DllMain on Windows) runs inside the load, on the loading
// thread, and may call back into the module; such a call must neither wait
// for a load (it may be its own, which would never end) nor start one (on
// Windows that would nest a load inside the loader lock). It gets the result
// of a call that finds nothing available instead.
class LibraryLoadScope {
public:
    LibraryLoadScope() noexcept { Add(1); }
    ~LibraryLoadScope() { Add(-1); }
    LibraryLoadScope(const LibraryLoadScope&) = delete;
    LibraryLoadScope& operator=(const LibraryLoadScope&) = delete;

    static bool active() noexcept { return depth_.Get() != nullptr; }

private:
    // The depth is the slot's value itself: nothing to allocate or free.
    static void Add(std::intptr_t step) noexcept
    {
        depth_.Set(reinterpret_cast<void*>(reinterpret_cast<std::intptr_t>(depth_.Get()) + step));
    }

    static inline platform::ThreadSlot depth_;
};

class FirstUseGate {
public:
    enum class State : unsigned char {
        // Nothing loaded: the next call claims the load.
        Unloaded,
        // One thread is loading; the others wait.
        Loading,
        // Loaded and usable; everything the loader wrote before is published.
        Available,
        // Loaded, kept, and never used; no call loads it again.
        Unusable,
    };

    constexpr FirstUseGate() noexcept = default;

    bool available() const noexcept { return state_.load(std::memory_order_acquire) == State::Available; }

    // True when the caller is to load now and then Finish(); false when the
    // state is settled (Available or Unusable), after waiting for a load
    // under way on another thread. Also false, at once, for a call from
    // inside a library load on this thread that finds no usable library.
    //
    // When the claimed load fails, its thread finishes with Unloaded, and
    // every thread waiting meets Unloaded in its loop: exactly one of them
    // wins the exchange and loads anew, the others wait for that one. So
    // each waiter gets either a loaded library or a load failure of its own,
    // and no thread reports a failure it did not see.
    bool Claim() noexcept
    {
        State state = state_.load(std::memory_order_acquire);
        if (state != State::Available && LibraryLoadScope::active())
            return false;
        for (;;) {
            switch (state) {
            case State::Available:
            case State::Unusable:
                return false;
            case State::Loading:
                // A first load ends in one load and a few resolutions, so
                // waiting costs less than a second load.
                std::this_thread::yield();
                state = state_.load(std::memory_order_acquire);
                break;
            case State::Unloaded:
                // On failure the exchange leaves the state it found in `state`.
                if (state_.compare_exchange_weak(state, State::Loading, std::memory_order_acquire))
                    return true;
                break;
            }
        }
    }

    // Ends a claimed load; Unloaded lets the next call try again.
    void Finish(State outcome) noexcept { state_.store(outcome, std::memory_order_release); }

    // Back to Unloaded, whatever the state; the state it had.
    State Reset() noexcept { return state_.exchange(State::Unloaded, std::memory_order_acq_rel); }

private:
    std::atomic<State> state_{State::Unloaded};
};

} // namespace zelbridge
