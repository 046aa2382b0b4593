// What the module's attach and detach steps do to the family bindings.
#pragma once

namespace zelbridge {

// All six families unloaded: no library handle and no driver function.
void ResetFamilyBindings() noexcept;
// Releases the libraries of the M317_VB_, M318_, T5XX_ and M329_ families,
// in that order, each only when held, and marks them unloaded. The M317_ and
// T520_ libraries stay loaded until the process ends.
void ReleaseFamilyLibrariesAtDetach() noexcept;

} // namespace zelbridge
