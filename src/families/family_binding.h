// The process-wide state of one controller family: its library, loaded on
// first use and kept only when it exports every driver function the family
// needs, and the driver functions resolved from it.
#pragma once

#include "families/family_catalog.h"
#include "families/family_descriptor.h"
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
    const EntryPointDescriptor& EntryPoint(std::size_t slot) const noexcept { return descriptor_->entryPoints[slot]; }
    // Only valid after IsAvailable() returned true.
    template <typename Driver> Driver DriverFunction(std::size_t slot) const noexcept
    {
        return reinterpret_cast<Driver>(entries_[descriptor_->entryPoints[slot].driverFunction]);
    }
    bool loaded() const noexcept { return module_.load(std::memory_order_acquire) != nullptr; }

    // Forgets the library without releasing it.
    void Reset() noexcept;
    // Releases the library when one is held, then forgets it.
    void ReleaseLibrary() noexcept;

private:
    bool ResolveAll(platform::ModuleHandle module) noexcept;

    const FamilyDescriptor* descriptor_;
    // Published only once every entry is resolved, so that a call on another
    // thread that sees the module also sees its driver functions. Two first
    // calls of one family at the same time are not kept apart: callers
    // serialise their calls into the module.
    std::atomic<platform::ModuleHandle> module_{nullptr};
    std::array<platform::ProcAddress, kMaxFamilyDriverFunctions> entries_{};
};

FamilyBinding& FamilyBindingOf(Family family) noexcept;

} // namespace zelbridge
