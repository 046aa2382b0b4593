// How a driver or family library is found, whether it loads and what it
// exports, found out with the loader code the Zelbridge module is built from.
#pragma once

#include "api/ascii_case.h"
#include "api/driver_contract.h"
#include "families/family_descriptor.h"
#include "system_error.h"

#include <array>
#include <string>
#include <vector>

namespace zelbridge::tool {

struct LoadAttempt {
    // Empty when no install path is set.
    std::string installPath;
    std::string fileTried;
    bool loaded = false;
    // Why the load failed, when it did.
    SystemError error;
};

struct DriverReport {
    LoadAttempt load;
    std::array<bool, kOperationCount> exported{};

    unsigned ExportedCount() const noexcept;
};

// Defines a system on `file` with `prefix` exactly as DefineSystem does, and
// releases it again as the module does at exit.
DriverReport ProbeDriver(const std::string& file, const std::string& prefix);

struct FamilyReport {
    LoadAttempt load;
    // The driver functions the library lacks, in resolution order.
    std::vector<std::string> missing;
};

// Loads the family's library in the family's own load style and resolves
// every driver function it needs, without tracing and without keeping it.
FamilyReport ProbeFamily(const FamilyDescriptor& family);

} // namespace zelbridge::tool
