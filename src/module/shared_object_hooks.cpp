// The attach and detach steps of the POSIX shared library, run when the
// library is loaded and unloaded, like DllMain on Windows.
#include "api/system_table.h"
#include "module/lifecycle.h"

namespace {

// Set by the destructor function below. The C runtime runs a library's
// destructor functions before its static objects' destructors at dlclose,
// but only after them at exit; so the detach step below reads true only when
// the library is being unloaded from a process that runs on.
bool unloading = false;

__attribute__((destructor)) void OnUnload()
{
    unloading = true;
}

struct DetachWhenUnloaded {
    ~DetachWhenUnloaded()
    {
        zelbridge::DetachModule();
        // At exit other threads may still be calling: the module's own tables
        // stay for them until the process is gone.
        if (unloading)
            zelbridge::SystemTable::FreeInstance();
    }
};

// Default priority: after the trace stream, which is constructed first.
__attribute__((constructor)) void OnLoad()
{
    zelbridge::AttachModule();
    // Destroyed at dlclose and at exit alike, before the trace stream.
    static DetachWhenUnloaded detach;
}

} // namespace
