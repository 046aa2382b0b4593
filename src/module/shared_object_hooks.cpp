// The attach and detach steps of the POSIX shared library, run by the dynamic
// loader when the library is loaded and unloaded, like DllMain on Windows.
#include "module/lifecycle.h"

namespace {

// Default priority: after the trace stream, which is constructed first.
__attribute__((constructor)) void OnLoad()
{
    zelbridge::AttachModule();
}

// Runs before the library's static objects are destroyed.
__attribute__((destructor)) void OnUnload()
{
    zelbridge::DetachModule();
}

} // namespace
