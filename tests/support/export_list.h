// The module's exports as its module definition file lists them.
#pragma once

#include "zelbridge.h"

#include <cstddef>

namespace zelbridge::test {

// What a caller compiled against the header pushes: each argument takes a
// whole number of 4-byte stack slots (a double two).
template <typename Function> struct HeaderArgumentBytes;
template <typename Result, typename... Arguments> struct HeaderArgumentBytes<Result(ZELBRIDGE_CALL*)(Arguments...)> {
    static constexpr int value = static_cast<int>((std::size_t{0} + ... + ((sizeof(Arguments) + 3) / 4 * 4)));
};

struct ModuleExport {
    int ordinal;
    const char* name;         // as exported on Windows
    const char* platformName; // as this platform's build exports it
    int argumentBytes;        // what the module definition says a 32-bit caller pushes
    int headerArgumentBytes;  // what the header's declaration makes a 32-bit caller push
};

inline constexpr ModuleExport kModuleExports[] = {
#define ZELBRIDGE_EXPORT(ordinal, name, platformName, argumentBytes, function) \
    {ordinal, name, platformName, argumentBytes, HeaderArgumentBytes<decltype(&function)>::value},
#include "zelbridge_exports.inc"
#undef ZELBRIDGE_EXPORT
};

} // namespace zelbridge::test
