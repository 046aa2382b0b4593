// The process-wide state of one controller family: its library, loaded on
// first use and kept only when it exports every driver function the family
// needs, and the driver functions resolved from it.
#pragma once

#include "families/family_catalog.h"
#include "diag/trace_stream.h"
#include "families/family_descriptor.h"
#include "loader/first_use_gate.h"
#include "platform/platform.h"

#include <array>
#include <atomic>

namespace zelbridge {

class FamilyBinding {
public:
    explicit constexpr FamilyBinding(const FamilyDescriptor& descriptor) noexcept : descriptor_(&descriptor) {}
    FamilyBinding(const FamilyBinding&) = delete;
    FamilyBinding& operator=(const FamilyBinding&) = delete;

    // The availability check: loads and resolves the library when it is not
    // loaded yet, writing the family's trace lines. False leaves nothing
    // behind, so the next call tries again from the start.
    bool IsAvailable() noexcept;

    const FamilyDescriptor& descriptor() const noexcept { return *descriptor_; }
    // Only valid after IsAvailable() returned true. A family's driver
    // functions are resolved in the order of its entry points.
    template <typename Driver> Driver DriverFunction(std::size_t position) const noexcept
    {
        return reinterpret_cast<Driver>(entries_[position]);
    }
    // True when a call may go straight to the driver: the library is loaded,
    // and the availability check and the echo lines would write nothing.
    bool ReadyForQuietCall() const noexcept { return quiet_.load(std::memory_order_acquire); }
    bool loaded() const noexcept { return gate_.available(); }

    // Forgets the library without releasing it.
    void Reset() noexcept;
    // Releases the library when one is held, then forgets it.
    void ReleaseLibrary() noexcept;

private:
    // One thread loads, the others wait for it, so the library is loaded once
    // and its driver functions are written only before they are published. A
    // failed or incomplete load goes back to Unloaded: a later call tries again.
    bool Load() noexcept;
    bool ResolveAll(platform::ModuleHandle module) noexcept;

    const FamilyDescriptor* descriptor_;
    FirstUseGate gate_;
    // Loaded, with neither trace nor recording: one test on the quick path.
    // Set after the gate opens, so that reading it true publishes the same.
    std::atomic<bool> quiet_{false};
    platform::ModuleHandle module_ = nullptr;
    std::array<platform::ProcAddress, kMaxFamilyDriverFunctions> entries_{};
};

namespace detail {
extern FamilyBinding familyBindings[kFamilyCount];
} // namespace detail

inline FamilyBinding& FamilyBindingOf(Family family) noexcept
{
    return detail::familyBindings[static_cast<std::size_t>(family)];
}

} // namespace zelbridge
