// What each form of `zelbridge check` found, as facts that the text and the
// JSON output both show, and how bad each finding is.
#pragma once

#include "library_probe.h"
#include "load_diagnosis.h"
#include "settings/install_path.h"

#include <array>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool {

// One library: where it was looked for, whether it loads, and why not.
struct LibraryCheck {
    std::string fileTried;
    LibraryFile file;
    enum class Load {
        kLoaded,
        kFailed,
        // Not a valid library: loading it could only fail, or crash the loader.
        kNotTried,
    };
    Load load = Load::kNotTried;
    // Why the load failed, when it did.
    SystemError error;
    std::vector<LoadProblem> problems;
    // The libraries it needs that lie only beside it, when it loaded only
    // because the module then searches its own folder for them.
    std::vector<std::string> loadedWithOwnFolderFor;
};

// The verdict on one library, from its check.
enum class LibraryState {
    kFound,
    kMissing,
    // Loads, but lacks functions the module needs.
    kIncomplete,
    kWrongArchitecture,
    kNotALibrary,
    kInvalid,
    kDependencyMissing,
    kDependencyIncomplete,
    // Does not load, and the files show no reason.
    kDoesNotLoad,
};

LibraryState StateOf(const LibraryCheck& library, const std::vector<std::string>& missingFunctions);
// "dependency missing" for the text, "dependency-missing" for JSON.
const char* StateText(LibraryState state) noexcept;
const char* StateKey(LibraryState state) noexcept;

// The prefix under which the library exports the most operations.
struct PrefixHint {
    std::string prefix;
    unsigned count = 0;
};

// The prefix that, put before the operation names, gives the most of the
// names `exports` holds; offered when it gives more than the prefix `given`.
std::optional<PrefixHint> SuggestPrefix(const std::vector<std::string>& exports, const std::string& given);

// One line on what keeps a library from loading, without the folders searched.
std::string DescribeProblem(const LoadProblem& problem);

struct DriverCheck {
    std::string driver;
    std::string prefix;
    InstallPathValue installPath;
    LibraryCheck library;
    std::array<bool, kOperationCount> exported{};
    std::optional<PrefixHint> hint;

    unsigned ExportedCount() const noexcept;
};

struct RequiredLibraryCheck {
    RequiredLibrary library;
    LibraryCheck check;
    std::vector<std::string> missingFunctions;

    LibraryState State() const { return StateOf(check, missingFunctions); }
};

struct FamilyCheck {
    InstallPathValue installPath;
    RequiredLibraryCheck family;
};

struct Overview {
    InstallPathValue installPath;
    std::vector<RequiredLibraryCheck> libraries;
};

// The install path, where the module reads it, and the value in the other view.
void WriteText(const InstallPathValue& value, std::ostream& out);
void WriteText(const DriverCheck& check, std::ostream& out);
void WriteText(const FamilyCheck& check, std::ostream& out);
void WriteText(const Overview& overview, std::ostream& out);
void WriteJson(const DriverCheck& check, std::ostream& out);
void WriteJson(const FamilyCheck& check, std::ostream& out);
void WriteJson(const Overview& overview, std::ostream& out);

} // namespace zelbridge::tool
