// The family bindings at attach and detach.
#include "families/family_lifecycle.h"

#include "families/family_binding.h"

namespace zelbridge {

void ResetFamilyBindings() noexcept
{
    for (std::size_t family = 0; family < kFamilyCount; ++family)
        FamilyBindingOf(static_cast<Family>(family)).Reset();
}

void ReleaseFamilyLibrariesAtDetach() noexcept
{
    for (const Family family : {Family::M317_VB, Family::M318, Family::T5XX, Family::M329})
        FamilyBindingOf(family).ReleaseLibrary();
}

} // namespace zelbridge
