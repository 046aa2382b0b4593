// Read access to the six family descriptors, for the bindings and for tools
// that check a family library for the driver functions it must export.
#pragma once

#include "families/family_catalog.h"
#include "families/family_descriptor.h"

namespace zelbridge {

// In the order of the Family enumeration.
extern const FamilyDescriptor kFamilyDescriptors[kFamilyCount];

inline const FamilyDescriptor& FamilyDescriptorOf(Family family) noexcept
{
    return kFamilyDescriptors[static_cast<std::size_t>(family)];
}

// The family whose prefix is `prefix` ("M318_"), or null.
const FamilyDescriptor* FindFamilyDescriptor(const char* prefix) noexcept;

} // namespace zelbridge
