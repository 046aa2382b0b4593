// A driver that calls back into Zelbridge while it is being loaded, as an
// initialiser may: DefineSystem, or with REENTER_FAMILY the first call of the
// family this library serves. It logs what the call returned.
#include "api/driver_contract.h"
#include "driver_recorder.h"
#include "zelbridge.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/platform.h"
#endif

namespace {

template <typename Function> Function ZelbridgeExport(const char* name)
{
#if defined(_WIN32)
    // Already loaded: taking its handle loads nothing under the loader lock.
    const HMODULE module = GetModuleHandleA(ZELBRIDGE_MODULE_FILE);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
#else
    const zelbridge::platform::ModuleHandle module = zelbridge::platform::OpenModule(ZELBRIDGE_MODULE_FILE);
    const auto function = module ? reinterpret_cast<Function>(zelbridge::platform::FindSymbol(module, name)) : nullptr;
    // The module stays loaded: it is the one loading this library.
    if (module)
        zelbridge::platform::CloseModule(module);
    return function;
#endif
}

void CallBackIntoZelbridge()
{
#if defined(REENTER_FAMILY)
    const char* name = "M329_IsConnected";
    const auto function = ZelbridgeExport<decltype(&::M329_IsConnected)>(name);
    const int result = function ? function(7) : 0;
#else
    const char* name = "DefineSystem";
    const auto function = ZelbridgeExport<decltype(&::DefineSystem)>(name);
    const int result = function ? function("drv_full.dll", "DRV_") : 0;
#endif
    if (function)
        zelbridge::test::Record(DRIVER_TAG, "%s returned %d", name, result);
}

} // namespace

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        CallBackIntoZelbridge();
    return TRUE;
}
#else
__attribute__((constructor)) static void CallBackWhenLoaded() { CallBackIntoZelbridge(); }
#endif

extern "C" std::int32_t ZELBRIDGE_STDCALL DRV_IsConnected(std::int32_t) { return 1; }
