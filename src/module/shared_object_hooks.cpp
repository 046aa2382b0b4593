// The attach and detach steps of the POSIX shared library, run when the
// library is loaded and unloaded, like DllMain on Windows.
#include "api/system_table.h"
#include "module/lifecycle.h"

namespace {

struct DetachWhenUnloaded {
    ~DetachWhenUnloaded() { zelbridge::DetachModule(); }
};

// Default priority: after the trace stream, which is constructed first.
__attribute__((constructor)) void OnLoad()
{
    zelbridge::AttachModule();
    // The C runtime destroys a library's static objects in reverse order of
    // their creation, at dlclose and at exit alike, but runs destructor
    // functions only after them at exit. So the detach step is a static
    // object created right after the system table: it runs before the
    // table's destruction on both paths, and the trace stream goes last.
    zelbridge::SystemTable::Instance();
    static DetachWhenUnloaded detach;
}

} // namespace
