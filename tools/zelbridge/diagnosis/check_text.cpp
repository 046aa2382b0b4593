// The text form of `zelbridge check`: labelled lines for a person to read and
// to paste into a support request.
#include "check_report.h"

#include "api/driver_contract.h"
#include "platform/platform.h"

#include <iomanip>
#include <ostream>

#ifndef ZELBRIDGE_MODULE_FILE
#error "the build names the Zelbridge module file"
#endif

namespace zelbridge::tool {
namespace {

constexpr int kLabelWidth = 18;
const std::string kContinuation(kLabelWidth + 2, ' ');

#if defined(_WIN32)
constexpr char kLoaderName[] = "Windows";
constexpr char kValueName[] = ", value Path";
#else
constexpr char kLoaderName[] = "the dynamic loader";
constexpr char kValueName[] = "";
#endif

void PrintField(std::ostream& out, const char* label, const std::string& value)
{
    out << std::left << std::setw(kLabelWidth) << label << value << '\n';
}

std::string BaseName(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinNames(const std::vector<std::string>& names)
{
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

// What a library of the format is called; a file of no known format is
// measured against this system's.
std::string Noun(BinaryFormat format)
{
    const BinaryFormat measured = format == BinaryFormat::kUnknown ? ThisProcessArchitecture().format : format;
    return measured == BinaryFormat::kElf ? "shared library" : "DLL";
}

std::string ModuleArchitecture()
{
    return DescribeArchitecture(ThisProcessArchitecture());
}

// One line on what is wrong, without the folders searched.
std::string Describe(const LoadProblem& problem)
{
    const std::string subject =
        problem.neededBy.empty() ? BaseName(problem.file) + " is" : problem.neededBy + " needs " + problem.file + ", which is";
    const BinaryFormat ours = ThisProcessArchitecture().format;
    switch (problem.kind) {
    case LoadProblem::Kind::kNotFound:
        return subject + " not found";
    case LoadProblem::Kind::kNotALibrary:
        return subject + (ours == BinaryFormat::kPe ? " not a Windows DLL" : " not an ELF shared library") +
               (problem.format == BinaryFormat::kUnknown
                    ? ""
                    : " but a " + problem.architecture + " " + Noun(problem.format) + " of another system");
    case LoadProblem::Kind::kInvalid:
        return subject + " not a valid " + Noun(problem.format) + ": " + problem.detail;
    case LoadProblem::Kind::kWrongArchitecture:
        return subject + " a " + problem.architecture + " " + Noun(problem.format) + "; " ZELBRIDGE_MODULE_FILE " is " +
               ModuleArchitecture();
    case LoadProblem::Kind::kMissingFunction:
        break;
    }
    return problem.neededBy + " imports " + problem.detail + " from " + problem.file + ", which does not export it";
}

// Why a library did not load, or what is wrong with one that did.
void PrintProblem(std::ostream& out, const char* label, const LoadProblem& problem)
{
    if (problem.kind != LoadProblem::Kind::kNotFound) {
        PrintField(out, label, Describe(problem));
        return;
    }
    PrintField(out, label, Describe(problem) + " in:");
    for (const SearchedFolder& folder : problem.searched)
        out << kContinuation << folder.path << " (" << folder.role << ")\n";
    if (!problem.elsewhere.empty())
        out << kContinuation << "A copy is at " << problem.elsewhere << ", but " << kLoaderName
            << " does not look for a library's dependencies in its folder.\n";
}

std::string ViewNote(const std::string& view)
{
    return view.empty() ? "" : " (" + view + " view)";
}

} // namespace

void WriteText(const InstallPathValue& value, std::ostream& out)
{
    switch (value.state) {
    case InstallPathValue::State::kNotSet:
        PrintField(out, "Install path:", "(none set)");
        break;
    case InstallPathValue::State::kEmpty:
        PrintField(out, "Install path:", "(empty)");
        break;
    case InstallPathValue::State::kTooLong:
        PrintField(out, "Install path:", "(unusable: " + std::to_string(value.size) +
                                             " bytes, longer than the module reads, so it is taken as none)");
        break;
    case InstallPathValue::State::kNotText:
        PrintField(out, "Install path:", "(unusable: a " + value.type + " value, not a string)");
        break;
    case InstallPathValue::State::kUsable:
        PrintField(out, "Install path:", value.path);
        if (!value.folderExists)
            out << kContinuation << "(no such folder)\n";
        if (value.path.back() == '/' || value.path.back() == platform::kPathSeparator)
            out << kContinuation << "(ends in a separator: the module adds another before a file name, "
                << "which the system reads as one)\n";
        if (!value.terminated)
            out << kContinuation << "(stored without a terminating zero: the module drops its last character)\n";
        break;
    }
    const std::string type = value.type.empty() ? "" : value.type + ", ";
    PrintField(out, "Read from:",
               value.key + kValueName + ViewNote(value.view) +
                   (value.state == InstallPathValue::State::kNotSet ? ": not set"
                                                                    : ": " + type + std::to_string(value.size) + " bytes"));
    if (!value.other)
        return;
    const OtherViewValue& other = *value.other;
    std::string line = other.key + kValueName + ViewNote(other.view) + " holds " + other.type + " \"" + other.text +
                       "\", which " ZELBRIDGE_MODULE_FILE " (" + value.view + ") does not read";
    if (value.OnlyInOtherView())
        line += "; to set it where it reads: " + value.FixCommand(other.text);
    PrintField(out, "Other view:", line);
}

namespace {

// Found at, loaded, and why not.
void PrintLibrary(std::ostream& out, const LibraryCheck& library)
{
    PrintField(out, "File tried:", library.fileTried);
    if (!library.file.path.empty() && library.file.path != library.fileTried)
        PrintField(out, "Found at:", library.file.path);
    switch (library.load) {
    case LibraryCheck::Load::kLoaded:
        PrintField(out, "Loaded:", "yes");
        if (!library.loadedWithOwnFolderFor.empty())
            PrintField(out, "Note:", "loads only with its own folder searched for its dependencies (" +
                                         JoinNames(library.loadedWithOwnFolderFor) +
                                         (library.loadedWithOwnFolderFor.size() == 1 ? " lies" : " lie") +
                                         " beside it); Zelbridge loads it that way");
        break;
    case LibraryCheck::Load::kFailed:
        PrintField(out, "Loaded:", "no, " + library.error.Describe());
        break;
    case LibraryCheck::Load::kNotTried:
        PrintField(out, "Loaded:", "no, not tried");
        break;
    }
    for (const LoadProblem& problem : library.problems)
        PrintProblem(out, library.load == LibraryCheck::Load::kLoaded ? "Problem:" : "Why:", problem);
}

// What follows the state in the overview's line.
std::string Detail(const RequiredLibraryCheck& library)
{
    const LibraryCheck& check = library.check;
    switch (library.State()) {
    case LibraryState::kFound:
        return check.file.path.empty() ? check.fileTried : check.file.path;
    case LibraryState::kMissing:
        return "";
    case LibraryState::kIncomplete: {
        const std::size_t more = library.missingFunctions.size() - 1;
        return "lacks " + library.missingFunctions.front() + (more ? " and " + std::to_string(more) + " more" : "");
    }
    case LibraryState::kDoesNotLoad:
        return check.error.Describe();
    default:
        break;
    }
    std::string detail;
    for (const LoadProblem& problem : check.problems)
        detail += (detail.empty() ? "" : "; ") + Describe(problem);
    return detail;
}

} // namespace

void WriteText(const DriverCheck& check, std::ostream& out)
{
    PrintField(out, "Driver library:", check.driver);
    WriteText(check.installPath, out);
    PrintLibrary(out, check.library);
    if (check.library.load != LibraryCheck::Load::kLoaded)
        return;
    out << "Exports " << check.ExportedCount() << " of the " << kOperationCount << " operations as \""
        << check.prefix << "\" and the operation name:\n";
    for (unsigned operation = 0; operation < kOperationCount; ++operation)
        out << (check.exported[operation] ? "  yes  " : "  no   ") << check.prefix << kOperationNames[operation] << '\n';
    if (check.hint)
        out << "Hint: exports " << check.hint->count << " of the " << kOperationCount << " operations as \""
            << check.hint->prefix << "\"; did you mean --prefix " << check.hint->prefix << "?\n";
}

void WriteText(const FamilyCheck& check, std::ostream& out)
{
    const RequiredLibraryCheck& family = check.family;
    PrintField(out, "Family:", family.library.user);
    PrintField(out, "Library file:", family.library.fileName);
    WriteText(check.installPath, out);
    PrintLibrary(out, family.check);
    if (family.check.load != LibraryCheck::Load::kLoaded)
        return;
    if (family.missingFunctions.empty()) {
        out << "All " << family.library.functionCount << " driver functions are present.\n";
        return;
    }
    out << family.missingFunctions.size() << " of the " << family.library.functionCount
        << " driver functions are missing, so the family does not use the library:\n";
    for (const std::string& function : family.missingFunctions)
        out << "  " << function << '\n';
}

void WriteText(const Overview& overview, std::ostream& out)
{
    PrintField(out, "Zelbridge:", ZELBRIDGE_MODULE_FILE ", " + ModuleArchitecture());
    WriteText(overview.installPath, out);
    out << "Libraries:\n";
    for (const RequiredLibraryCheck& library : overview.libraries) {
        const std::string detail = Detail(library);
        out << "  " << std::left << std::setw(11) << library.library.user << std::setw(22) << library.library.fileName
            << StateText(library.State()) << (detail.empty() ? "" : ": " + detail) << '\n';
    }
    out << "\"zelbridge check --family NAME\" shows where a family library was looked for and why it does not load.\n";
}

std::string DescribeProblem(const LoadProblem& problem)
{
    return Describe(problem);
}

} // namespace zelbridge::tool
