// How a driver, family or graph library is found, whether it loads and what it
// exports, found out with the loader code the Zelbridge module is built from.
#pragma once

#include "api/ascii_case.h"
#include "api/driver_contract.h"
#include "families/family_descriptor.h"
#include "system_error.h"

#include <array>
#include <cstdint>
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

// The file the loader opens when DefineSystem is given `file`, in the case
// the user wrote it.
std::string DriverFileTried(const std::string& file);

// Defines a system on `file` with `prefix` exactly as DefineSystem does, and
// releases it again as the module does at exit.
DriverReport ProbeDriver(const std::string& file, const std::string& prefix);

// A library the module uses only when it exports every function of a fixed
// list: a family library or the graph library.
struct RequiredLibrary {
    // The family prefix ("M329_"), or "QXGraph3D" for the graph library.
    std::string user;
    const char* fileName;
    // Loaded through the loader shared with defined systems, else by the
    // file name composed with the install path.
    bool sharedLoader;
    const char* const* functionNames;
    std::size_t functionCount;
};

RequiredLibrary FamilyLibrary(const FamilyDescriptor& family);
// The six family libraries and the graph library.
std::vector<RequiredLibrary> RequiredLibraries();

// The file the module hands to the loader for `library`.
std::string FileTried(const RequiredLibrary& library);

struct RequiredLibraryReport {
    LoadAttempt load;
    // The functions the library lacks, in resolution order.
    std::vector<std::string> missing;
};

// Loads the library as the module does and resolves every function it
// needs, without tracing and without keeping it.
RequiredLibraryReport ProbeRequiredLibrary(const RequiredLibrary& library);

} // namespace zelbridge::tool
