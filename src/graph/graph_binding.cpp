// Loading and resolving the 3D graph library, once per process.
#include "graph/graph_binding.h"

#include "loader/library_loader.h"

#include <thread>

namespace zelbridge {

GraphBinding GraphBinding::instance_;

bool GraphFunctionTable::ResolveAll(platform::ModuleHandle library) noexcept
{
    for (std::size_t i = 0; i < kGraphFunctionCount; ++i)
        functions_[i] = platform::FindSymbol(library, kGraphFunctionNames[i]);
    for (const platform::ProcAddress function : functions_)
        if (!function)
            return false;
    return true;
}

bool GraphBinding::LoadOnFirstUse() noexcept
{
    State state = state_.load(std::memory_order_acquire);
    for (;;) {
        switch (state) {
        case State::Available:
            return true;
        case State::Incomplete:
            return false;
        case State::Loading:
            // Another thread's first call is loading; it ends in one load and
            // a few resolutions, so waiting costs less than a second load.
            std::this_thread::yield();
            state = state_.load(std::memory_order_acquire);
            break;
        case State::Unloaded:
            // On failure the exchange leaves the state it found in `state`.
            if (state_.compare_exchange_weak(state, State::Loading, std::memory_order_acquire))
                return Load();
            break;
        }
    }
}

bool GraphBinding::Load() noexcept
{
    const platform::ModuleHandle library = LoadControllerLibrary(kGraphLibraryFile);
    if (!library) {
        state_.store(State::Unloaded, std::memory_order_release);
        return false;
    }
    library_ = library;
    const bool complete = functions_.ResolveAll(library);
    // Publishes the table: a thread that reads Available sees every pointer.
    state_.store(complete ? State::Available : State::Incomplete, std::memory_order_release);
    return complete;
}

} // namespace zelbridge
