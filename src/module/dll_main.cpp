// The Windows entry point of Zelbridge.dll.
#include "module/lifecycle.h"

#include <windows.h>

// Runs under the loader lock: the detach step calls the drivers' close
// functions and FreeLibrary there, which the driver contract allows.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        zelbridge::AttachModule();
        break;
    case DLL_PROCESS_DETACH:
        zelbridge::DetachModule();
        break;
    default:
        break;
    }
    return TRUE;
}
