// check: how driver, family and graph libraries are found, whether they load,
// why not, and what they export. The facts are gathered here and written as
// text or JSON by the check writers.
#include "check_report.h"
#include "families/family_tables.h"
#include "loader/library_loader.h"
#include "cli/subcommands.h"
#include "cli/tool_errors.h"

#include <algorithm>
#include <bitset>
#include <map>

namespace zelbridge::tool {
namespace {

struct StateName {
    LibraryState state;
    const char* text;
    const char* key;
};

constexpr StateName kStateNames[] = {
    {LibraryState::kFound, "found", "found"},
    {LibraryState::kMissing, "missing", "missing"},
    {LibraryState::kIncomplete, "incomplete", "incomplete"},
    {LibraryState::kWrongArchitecture, "wrong architecture", "wrong-architecture"},
    {LibraryState::kNotALibrary, "not a library", "not-a-library"},
    {LibraryState::kInvalid, "not valid", "invalid"},
    {LibraryState::kDependencyMissing, "dependency missing", "dependency-missing"},
    {LibraryState::kDependencyIncomplete, "dependency incomplete", "dependency-incomplete"},
    {LibraryState::kDoesNotLoad, "does not load", "does-not-load"},
};

const StateName& NameOf(LibraryState state) noexcept
{
    return *std::find_if(std::begin(kStateNames), std::end(kStateNames),
                         [&](const StateName& name) { return name.state == state; });
}

// Where the library is and what it is, found before the module's loader is
// asked for it: a file that is not a valid library is not loaded at all.
LibraryCheck Examine(const std::string& fileTried, const std::string& installPath)
{
    LibraryCheck check;
    check.fileTried = fileTried;
    check.file = ExamineLibrary(fileTried, installPath);
    if (check.file.reading && check.file.reading->status == BinaryReading::Status::kInvalid)
        check.problems = DiagnoseLoad(check.file).problems;
    return check;
}

bool WorthLoading(const LibraryCheck& check)
{
    return check.problems.empty();
}

void RecordLoad(LibraryCheck& check, const LoadAttempt& load)
{
    check.load = load.loaded ? LibraryCheck::Load::kLoaded : LibraryCheck::Load::kFailed;
    LoadDiagnosis diagnosis = DiagnoseLoad(check.file);
    check.problems = std::move(diagnosis.problems);
    if (!load.loaded) {
        check.error = load.error;
        return;
    }
    check.loadedWithOwnFolderFor = std::move(diagnosis.besideOnly);
    // Wine loads a library whose imported function is missing, putting a stub
    // that fails when called in its place, where Windows refuses it with error
    // 127: that is still reported. Whatever else the files seem to show, the
    // load has disproved.
    check.problems.erase(std::remove_if(check.problems.begin(), check.problems.end(),
                                        [](const LoadProblem& problem) {
                                            return problem.kind != LoadProblem::Kind::kMissingFunction;
                                        }),
                         check.problems.end());
}

RequiredLibraryCheck CheckRequiredLibrary(const RequiredLibrary& library)
{
    RequiredLibraryCheck result{library, Examine(FileTried(library), ReadInstallPath()), {}};
    if (!WorthLoading(result.check))
        return result;
    const RequiredLibraryReport report = ProbeRequiredLibrary(library);
    RecordLoad(result.check, report.load);
    result.missingFunctions = report.missing;
    return result;
}

// "M329", "m329_" and "M329_" all name the family whose prefix is "M329_".
const FamilyDescriptor& FindFamily(const std::string& name)
{
    std::string prefix = AsciiUpperCase(name);
    if (prefix.empty() || prefix.back() != '_')
        prefix += '_';
    if (const FamilyDescriptor* family = FindFamilyDescriptor(prefix.c_str()))
        return *family;
    std::string known;
    for (const FamilyDescriptor& family : kFamilyDescriptors) {
        const std::string familyPrefix = family.prefix;
        known += (known.empty() ? "" : ", ") + familyPrefix.substr(0, familyPrefix.size() - 1);
    }
    throw UsageError("unknown family '" + name + "': use one of " + known);
}

template <typename Check> void Write(const Check& check, bool json, std::ostream& out)
{
    if (json)
        WriteJson(check, out);
    else
        WriteText(check, out);
}

int CheckDriver(const std::string& driver, const std::string& prefix, bool json, std::ostream& out)
{
    DriverCheck check;
    check.driver = driver;
    check.prefix = prefix;
    check.installPath = ExamineInstallPath();
    check.library = Examine(DriverFileTried(driver), ReadInstallPath());
    if (WorthLoading(check.library)) {
        const DriverReport report = ProbeDriver(driver, prefix);
        RecordLoad(check.library, report.load);
        check.exported = report.exported;
        const std::optional<BinaryReading>& reading = check.library.file.reading;
        if (check.library.load == LibraryCheck::Load::kLoaded && reading &&
            reading->status == BinaryReading::Status::kRead)
            check.hint = SuggestPrefix(reading->image.exports, prefix);
    }
    Write(check, json, out);
    const bool usable = check.library.load == LibraryCheck::Load::kLoaded && check.library.problems.empty();
    return usable && check.ExportedCount() > 0 ? kSuccess : kFailure;
}

int CheckFamily(const std::string& name, bool json, std::ostream& out)
{
    const FamilyCheck check{ExamineInstallPath(), CheckRequiredLibrary(FamilyLibrary(FindFamily(name)))};
    Write(check, json, out);
    return check.family.State() == LibraryState::kFound ? kSuccess : kFailure;
}

// A library that is not there is no fault: a machine has the libraries of its
// own controllers only. One that is there but cannot be used is.
int CheckEverything(bool json, std::ostream& out)
{
    Overview overview;
    overview.installPath = ExamineInstallPath();
    for (const RequiredLibrary& library : RequiredLibraries())
        overview.libraries.push_back(CheckRequiredLibrary(library));
    Write(overview, json, out);
    const bool pathUnusable = overview.installPath.Unusable();
    const bool libraryUnusable =
        std::any_of(overview.libraries.begin(), overview.libraries.end(), [](const RequiredLibraryCheck& library) {
            return library.State() != LibraryState::kFound && library.State() != LibraryState::kMissing;
        });
    return pathUnusable || libraryUnusable ? kFailure : kSuccess;
}

} // namespace

std::optional<PrefixHint> SuggestPrefix(const std::vector<std::string>& exports, const std::string& given)
{
    std::map<std::string, std::bitset<kOperationCount>> operationsByPrefix;
    for (const std::string& name : exports)
        for (unsigned operation = 0; operation < kOperationCount; ++operation) {
            const std::string suffix = kOperationNames[operation];
            if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                operationsByPrefix[name.substr(0, name.size() - suffix.size())].set(operation);
        }
    PrefixHint best;
    for (const auto& [prefix, operations] : operationsByPrefix)
        if (operations.count() > best.count)
            best = {prefix, static_cast<unsigned>(operations.count())};
    if (best.count <= operationsByPrefix[given].count() || best.prefix == given)
        return std::nullopt;
    return best;
}

unsigned DriverCheck::ExportedCount() const noexcept
{
    return static_cast<unsigned>(std::count(exported.begin(), exported.end(), true));
}

LibraryState StateOf(const LibraryCheck& library, const std::vector<std::string>& missingFunctions)
{
    if (library.load == LibraryCheck::Load::kLoaded && !missingFunctions.empty())
        return LibraryState::kIncomplete;
    if (library.load == LibraryCheck::Load::kLoaded && library.problems.empty())
        return LibraryState::kFound;
    if (library.problems.empty())
        return LibraryState::kDoesNotLoad;
    const LoadProblem& first = library.problems.front();
    if (!first.neededBy.empty()) {
        const bool allFunctions = std::all_of(library.problems.begin(), library.problems.end(), [](const LoadProblem& p) {
            return p.kind == LoadProblem::Kind::kMissingFunction;
        });
        return allFunctions ? LibraryState::kDependencyIncomplete : LibraryState::kDependencyMissing;
    }
    switch (first.kind) {
    case LoadProblem::Kind::kNotFound:
        return LibraryState::kMissing;
    case LoadProblem::Kind::kNotALibrary:
        return LibraryState::kNotALibrary;
    case LoadProblem::Kind::kInvalid:
        return LibraryState::kInvalid;
    case LoadProblem::Kind::kWrongArchitecture:
        return LibraryState::kWrongArchitecture;
    case LoadProblem::Kind::kMissingFunction:
        break;
    }
    return LibraryState::kDependencyIncomplete;
}

const char* StateText(LibraryState state) noexcept
{
    return NameOf(state).text;
}

const char* StateKey(LibraryState state) noexcept
{
    return NameOf(state).key;
}

int RunCheck(const Invocation& request, std::ostream& out)
{
    if (request.family)
        return CheckFamily(*request.family, request.json, out);
    if (request.driver)
        return CheckDriver(*request.driver, *request.prefix, request.json, out);
    return CheckEverything(request.json, out);
}

} // namespace zelbridge::tool
