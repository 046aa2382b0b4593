// The module's exports as its module definition file lists them.
#pragma once

namespace zelbridge::test {

struct ModuleExport {
    int ordinal;
    const char* name;         // as exported on Windows
    const char* platformName; // as this platform's build exports it
    int argumentBytes;        // what a 32-bit caller pushes
};

inline constexpr ModuleExport kModuleExports[] = {
#define ZELBRIDGE_EXPORT(ordinal, name, platformName, argumentBytes) {ordinal, name, platformName, argumentBytes},
#include "zelbridge_exports.inc"
#undef ZELBRIDGE_EXPORT
};

} // namespace zelbridge::test
