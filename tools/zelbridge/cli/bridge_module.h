// The Zelbridge module, loaded by file name at run time as an application
// loads it, and its generic entry points, looked up by name.
#pragma once

#include "api/driver_contract.h"
#include "platform/platform.h"
#include "zelbridge.h"

namespace zelbridge::tool {

class BridgeModule {
public:
    // Loads the module found next to the tool; throws Failure with the
    // system's reason when it cannot be loaded or lacks an entry point.
    BridgeModule();
    ~BridgeModule();
    BridgeModule(const BridgeModule&) = delete;
    BridgeModule& operator=(const BridgeModule&) = delete;

    // Every generic operation of the description, typed by the public
    // header, so that a new row needs no edit here.
    decltype(&::DefineSystem) DefineSystem = nullptr;
#define ZELBRIDGE_TOOL_MEMBER(name, ...) decltype(&::name) name = nullptr;
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_TOOL_MEMBER)
#undef ZELBRIDGE_TOOL_MEMBER

    // Any other export, null when the module lacks it.
    platform::ProcAddress Export(const char* name) const noexcept;

private:
    platform::ModuleHandle module_ = nullptr;
};

} // namespace zelbridge::tool
