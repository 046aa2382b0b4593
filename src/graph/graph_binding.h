// The process's one binding to the 3D graph library: loaded on first use, used
// only when every graph function is present, kept until the process ends.
#pragma once

#include "graph/bit_exact_call.h"
#include "graph/graph_functions.h"
#include "loader/first_use_gate.h"
#include "platform/platform.h"

#include <array>
#include <atomic>
#include <type_traits>

namespace zelbridge {

class GraphFunctionTable {
public:
    // Looks every function up before any is tested, so that a missing one
    // cannot leave the rest unresolved; true when all are present.
    bool ResolveAll(platform::ModuleHandle library) noexcept;

    template <GraphFunction function, typename... Arguments> int Call(const Arguments&... arguments) const noexcept
    {
        return CallBitExact<GraphFunctionType<function>>(functions_[static_cast<unsigned>(function)], arguments...);
    }

private:
    std::array<platform::ProcAddress, kGraphFunctionCount> functions_{};
};

class GraphBinding {
public:
    // Constant-initialised: the binding is ready before any code of the module
    // runs and is never destroyed, so no entry point can meet it half-made.
    constexpr GraphBinding() noexcept = default;
    GraphBinding(const GraphBinding&) = delete;
    GraphBinding& operator=(const GraphBinding&) = delete;

    static GraphBinding& Instance() noexcept { return instance_; }

    // After the first load this is one test; only the first calls, and every
    // call while the library cannot be loaded, take the slow path.
    bool IsAvailable() noexcept
    {
        return gate_.available() || LoadOnFirstUse();
    }

    // Loaded and complete, and no call is recorded: a call may go straight to the library.
    bool ReadyForQuietCall() const noexcept { return quiet_.load(std::memory_order_acquire); }

    // Whether the library is loaded and complete, without trying to load it.
    bool available() const noexcept { return gate_.available(); }

    // Valid to call through only after IsAvailable() returned true.
    const GraphFunctionTable& functions() const noexcept { return functions_; }

private:
    // One thread loads, the others wait for it. A failed load goes back to
    // Unloaded, so a later call tries again; an incomplete library is kept
    // and never used.
    bool LoadOnFirstUse() noexcept;
    bool Load() noexcept;

    static GraphBinding instance_;

    FirstUseGate gate_;
    // Available while nothing is recorded: one test on the quick path. Set
    // after the gate opens, so that reading it true publishes the same.
    std::atomic<bool> quiet_{false};
    // Held for the rest of the process, also when the library is incomplete.
    platform::ModuleHandle library_ = nullptr;
    GraphFunctionTable functions_;
};

// Whether the graph entry points may call the graph library; loads it on first
// use, and tries again on every call for as long as it cannot be loaded.
inline bool IsGraphDLLAvailable() noexcept
{
    return GraphBinding::Instance().IsAvailable();
}

// How the out-of-line first call takes an argument: by value, but a double by
// reference where a copy would pass through the x87 unit (see CallBitExact),
// so that the common path keeps its arguments in registers.
template <typename Parameter>
using FirstCallParameter = std::conditional_t<ZELBRIDGE_FORWARD_DOUBLES_AS_BITS && std::is_same_v<Parameter, double>,
                                              const Parameter&, Parameter>;

// A graph call that finds the library not loaded yet: out of line, so that the
// entry points' common path is one test and a jump.
template <GraphFunction function, typename Function = GraphFunctionType<function>> struct GraphFirstCall;
template <GraphFunction function, typename... Parameters>
struct GraphFirstCall<function, int(ZELBRIDGE_CALL*)(Parameters...)> {
    [[gnu::noinline]] static int Call(int unavailable, FirstCallParameter<Parameters>... arguments) noexcept
    {
        if (!IsGraphDLLAvailable())
            return unavailable;
        return GraphBinding::Instance().functions().Call<function>(arguments...);
    }
};

} // namespace zelbridge
