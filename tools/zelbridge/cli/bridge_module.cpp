// Loading the Zelbridge module and looking up its entry points.
#include "bridge_module.h"

#include "diagnosis/system_error.h"
#include "tool_errors.h"

#include <cstring>
#include <string>

#ifndef ZELBRIDGE_MODULE_FILE
#error "the build names the Zelbridge module file"
#endif

namespace zelbridge::tool {
namespace {

template <typename Function> void Find(platform::ModuleHandle module, Function& function, const char* name)
{
    function = reinterpret_cast<Function>(platform::FindSymbol(module, name));
    if (!function)
        throw Failure(std::string(ZELBRIDGE_MODULE_FILE " does not export ") + name);
}

// The name the module exports an operation under: its own, but for the one
// the public header names otherwise.
const char* ExportedName(const char* operation) noexcept
{
    return std::strcmp(operation, "ConnectPciBoard") == 0 ? ZELBRIDGE_CONNECT_PCI_BOARD_EXPORT : operation;
}

} // namespace

// A bare name: on Windows the search starts in the program's folder, and on
// other systems the tool's run path names its own folder.
BridgeModule::BridgeModule() : module_(platform::OpenModule(ZELBRIDGE_MODULE_FILE))
{
    if (!module_)
        throw Failure("cannot load " ZELBRIDGE_MODULE_FILE ": " + CaptureLastError(ZELBRIDGE_MODULE_FILE).Describe());
    try {
        Find(module_, DefineSystem, "DefineSystem");
#define ZELBRIDGE_TOOL_FIND(name, ...) Find(module_, name, ExportedName(#name));
        ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_TOOL_FIND)
#undef ZELBRIDGE_TOOL_FIND
    } catch (...) {
        platform::CloseModule(module_);
        throw;
    }
}

platform::ProcAddress BridgeModule::Export(const char* name) const noexcept
{
    return platform::FindSymbol(module_, name);
}

BridgeModule::~BridgeModule()
{
    platform::CloseModule(module_);
}

} // namespace zelbridge::tool
