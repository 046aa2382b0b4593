// The Windows entry point of Zelbridge.dll.
#include "api/system_table.h"
#include "module/lifecycle.h"

#include <windows.h>

// Runs under the loader lock: the detach step calls the drivers' close
// functions and FreeLibrary there, which the driver contract allows.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        zelbridge::AttachModule();
        break;
    case DLL_PROCESS_DETACH:
        zelbridge::DetachModule();
        // A process that ends takes the module's own tables with it; only a
        // FreeLibrary (reserved null) while it runs on needs them freed.
        if (!reserved)
            zelbridge::SystemTable::FreeInstance();
        break;
    default:
        break;
    }
    return TRUE;
}
