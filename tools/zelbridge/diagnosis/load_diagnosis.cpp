// Finding libraries in the loader's search order and following their imports.
#include "load_diagnosis.h"

#include "api/ascii_case.h"
#include "loader/library_loader.h"
#include "os/os_services.h"
#include "platform/platform.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace zelbridge::tool {
namespace {

// Larger files are not read: no driver library comes near it.
constexpr std::uintmax_t kLargestFileRead = 256u << 20;

#if defined(_WIN32)
constexpr char kListSeparator = ';';
// Present in every process or every Windows installation, and so never
// looked for: the loader takes them from its list of known DLLs or from the
// system, and the tool need not follow what they import.
constexpr const char* kSystemLibraries[] = {
    "ADVAPI32.DLL", "BCRYPT.DLL",  "CFGMGR32.DLL", "COMBASE.DLL",  "COMCTL32.DLL", "COMDLG32.DLL", "CRYPT32.DLL",
    "DBGHELP.DLL",  "GDI32.DLL",   "HID.DLL",      "IMM32.DLL",    "IPHLPAPI.DLL", "KERNEL32.DLL", "KERNELBASE.DLL",
    "MSVCRT.DLL",   "NTDLL.DLL",   "OLE32.DLL",    "OLEAUT32.DLL", "OPENGL32.DLL", "PSAPI.DLL",    "RPCRT4.DLL",
    "SECHOST.DLL",  "SETUPAPI.DLL", "SHELL32.DLL", "SHLWAPI.DLL",  "UCRTBASE.DLL", "USER32.DLL",   "UXTHEME.DLL",
    "VERSION.DLL",  "WINMM.DLL",   "WINSPOOL.DRV", "WINUSB.DLL",   "WS2_32.DLL",   "WSOCK32.DLL",
};
// Names that the loader maps to system DLLs; no file has them.
constexpr const char* kSystemLibraryPrefixes[] = {"API-MS-WIN-", "EXT-MS-"};
#else
constexpr char kListSeparator = ':';
constexpr const char* kSystemLibraries[] = {"linux-vdso.so.1"};
// The C and C++ runtimes and the sanitizers' runtimes, in every version.
constexpr const char* kSystemLibraryPrefixes[] = {
    "ld-linux",     "libc.so.",   "libm.so.",     "libdl.so.",   "libpthread.so.", "librt.so.",
    "libstdc++.so.", "libgcc_s.so.", "libasan.so.", "libubsan.so.", "libtsan.so.",  "liblsan.so.",
};
#endif

// How the loader compares library names.
std::string NameKey(const std::string& name)
{
    return platform::kFileNamesIgnoreCase ? AsciiUpperCase(name) : name;
}

bool IsSystemLibrary(const std::string& name)
{
    const std::string key = NameKey(name);
    return std::any_of(std::begin(kSystemLibraries), std::end(kSystemLibraries),
                       [&](const char* known) { return key == known; }) ||
           std::any_of(std::begin(kSystemLibraryPrefixes), std::end(kSystemLibraryPrefixes),
                       [&](const char* prefix) { return key.rfind(prefix, 0) == 0; });
}

bool IsSeparator(char c)
{
    return c == '/' || c == platform::kPathSeparator;
}

std::string FolderOf(const std::string& path)
{
    const auto end = std::find_if(path.rbegin(), path.rend(), IsSeparator);
    return end == path.rend() ? std::string() : std::string(path.begin(), end.base() - 1);
}

// The folder of a name that holds a path but no folder part: the root for
// "/name" (of the current drive on Windows), the drive for "C:name", else
// the current folder (a name whose only path character is one this platform
// does not separate with).
std::string FolderOfBareName(const std::string& path)
{
    if (!path.empty() && IsSeparator(path[0])) {
        std::error_code error;
        const std::string root = std::filesystem::current_path(error).root_path().string();
        return platform::kPathSeparator == '\\' && !error && !root.empty() ? root : path.substr(0, 1);
    }
    if (path.size() >= 2 && path[1] == ':')
        return path.substr(0, 2);
    return ".";
}

std::string BaseName(const std::string& path)
{
    return std::string(std::find_if(path.rbegin(), path.rend(), IsSeparator).base(), path.end());
}

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty() || IsSeparator(folder.back()))
        return folder + name;
    return folder + platform::kPathSeparator + name;
}

// The folders of a list such as PATH, without empty entries or quotes.
std::vector<std::string> SplitList(const std::string& list)
{
    std::vector<std::string> folders;
    std::string::size_type start = 0;
    while (start <= list.size()) {
        std::string::size_type end = list.find(kListSeparator, start);
        if (end == std::string::npos)
            end = list.size();
        std::string folder = list.substr(start, end - start);
        folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
        if (!folder.empty())
            folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

std::string Environment(const char* name)
{
    const char* value = platform::Setting(name);
    return value ? value : "";
}

std::optional<BinaryReading> ReadFile(const std::string& path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > kLargestFileRead)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return std::nullopt;
    return ReadBinaryImage(bytes.data(), bytes.size());
}

bool IsFile(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

class FolderList {
public:
    void Add(const std::string& path, const std::string& role, bool system = false)
    {
        const std::string key = NameKey(path);
        if (path.empty() || std::any_of(folders_.begin(), folders_.end(),
                                        [&](const Entry& entry) { return NameKey(entry.folder.path) == key; }))
            return;
        folders_.push_back({{path, role}, system});
    }

    void AddList(const std::vector<std::string>& paths, const std::string& role)
    {
        for (const std::string& path : paths)
            Add(path, role);
    }

    // The first file named `name` in the folders that is a library of this
    // process's architecture, as the loader skips those of another; failing
    // that, the first file of the name.
    LibraryFile Find(const std::string& name) const
    {
        LibraryFile found;
        found.requested = name;
        std::optional<LibraryFile> otherArchitecture;
        for (const Entry& entry : folders_) {
            found.searched.push_back(entry.folder);
            const std::string path = Join(entry.folder.path, name);
            if (!IsFile(path))
                continue;
            LibraryFile candidate = found;
            candidate.path = path;
            candidate.reading = ReadFile(path);
            candidate.inSystemFolder = entry.system;
            const bool foreign = candidate.reading && candidate.reading->status == BinaryReading::Status::kRead &&
                                 !SameArchitecture(candidate.reading->image, ThisProcessArchitecture());
            if (!foreign)
                return candidate;
            if (!otherArchitecture)
                otherArchitecture = std::move(candidate);
        }
        return otherArchitecture ? *otherArchitecture : found;
    }

private:
    struct Entry {
        SearchedFolder folder;
        bool system;
    };
    std::vector<Entry> folders_;
};

#if defined(_WIN32)

// The standard search order for a name without a path, which the loader
// also follows for the libraries a DLL imports: not the DLL's own folder.
FolderList SearchOrder(const LibraryFile*)
{
    FolderList folders;
    folders.Add(FolderOf(os::ProgramPath()), "the application's folder");
    std::string windows = Environment("SystemRoot");
    if (windows.empty())
        windows = Environment("windir");
    if (!windows.empty()) {
        folders.Add(Join(windows, "system32"), "the system folder", true);
        folders.Add(Join(windows, "system"), "the 16-bit system folder", true);
        folders.Add(windows, "the Windows folder", true);
    }
    std::error_code error;
    folders.Add(std::filesystem::current_path(error).string(), "the current folder");
    folders.AddList(SplitList(Environment("PATH")), "PATH");
    return folders;
}

#else

// A run path with $ORIGIN replaced by the folder of the file that holds it.
std::vector<std::string> RunPath(const std::string& list, const std::string& origin)
{
    std::vector<std::string> folders = SplitList(list);
    for (std::string& folder : folders) {
        for (const char* token : {"${ORIGIN}", "$ORIGIN"})
            for (std::string::size_type at; (at = folder.find(token)) != std::string::npos;)
                folder.replace(at, std::string(token).size(), origin);
        folder = std::filesystem::path(folder).lexically_normal().string();
    }
    return folders;
}

// The tool's own run path, which the dynamic loader searches first for
// every library whose needer has no DT_RUNPATH.
const std::vector<std::string>& ProgramRunPath()
{
    static const std::vector<std::string> folders = [] {
        const std::string program = os::ProgramPath();
        const std::optional<BinaryReading> reading = ReadFile(program);
        if (!reading || reading->status != BinaryReading::Status::kRead)
            return std::vector<std::string>();
        return RunPath(reading->image.rpath, FolderOf(program));
    }();
    return folders;
}

#if defined(__x86_64__)
#define ZELBRIDGE_MULTIARCH "x86_64-linux-gnu"
#elif defined(__i386__)
#define ZELBRIDGE_MULTIARCH "i386-linux-gnu"
#elif defined(__aarch64__)
#define ZELBRIDGE_MULTIARCH "aarch64-linux-gnu"
#endif

// The dynamic loader's order: the needer's DT_RPATH and the program's when the
// needer has no DT_RUNPATH, LD_LIBRARY_PATH, the needer's DT_RUNPATH, then the
// system's folders (those of its cache are not read).
FolderList SearchOrder(const LibraryFile* needer)
{
    FolderList folders;
    const BinaryImage* image =
        needer && needer->reading && needer->reading->status == BinaryReading::Status::kRead ? &needer->reading->image
                                                                                                : nullptr;
    const std::string origin = needer ? FolderOf(needer->path) : "";
    if (!image || image->runpath.empty()) {
        if (image)
            folders.AddList(RunPath(image->rpath, origin), BaseName(needer->path) + "'s run path");
        folders.AddList(ProgramRunPath(), "the tool's run path");
    }
    folders.AddList(SplitList(Environment("LD_LIBRARY_PATH")), "LD_LIBRARY_PATH");
    if (image)
        folders.AddList(RunPath(image->runpath, origin), BaseName(needer->path) + "'s run path");
    for (const char* folder : {"/usr/local/lib", "/lib/" ZELBRIDGE_MULTIARCH, "/usr/lib/" ZELBRIDGE_MULTIARCH, "/lib",
                               "/usr/lib"})
        folders.Add(folder, "the system's library folders", true);
    return folders;
}

#endif

// A problem of `file` itself, whether asked for or needed: not there, not
// readable as a library, or not of this process's architecture.
std::optional<LoadProblem> ProblemOfFile(const LibraryFile& file, const std::string& neededBy)
{
    LoadProblem problem;
    problem.neededBy = neededBy;
    if (file.path.empty()) {
        problem.kind = LoadProblem::Kind::kNotFound;
        problem.file = file.requested;
        problem.searched = file.searched;
        return problem;
    }
    if (!file.reading)
        return std::nullopt;
    problem.file = file.path;
    const BinaryReading& reading = *file.reading;
    const BinaryImage& expected = ThisProcessArchitecture();
    problem.format = reading.image.format;
    if (reading.status == BinaryReading::Status::kInvalid) {
        problem.kind = LoadProblem::Kind::kInvalid;
        problem.detail = reading.problem;
        return problem;
    }
    if (reading.status == BinaryReading::Status::kRead)
        problem.architecture = DescribeArchitecture(reading.image);
    if (reading.status == BinaryReading::Status::kUnknownFormat || reading.image.format != expected.format) {
        problem.kind = LoadProblem::Kind::kNotALibrary;
        return problem;
    }
    if (!SameArchitecture(reading.image, expected)) {
        problem.kind = LoadProblem::Kind::kWrongArchitecture;
        return problem;
    }
    return std::nullopt;
}

// Follows the imports of every library found, once per library name, in the
// order the loader meets them.
class DependencyWalk {
public:
    explicit DependencyWalk(const LibraryFile& library) : ownFolder_(FolderSearchedWhenTriedAgain(library))
    {
        pending_.push_back(&library);
    }

    LoadDiagnosis Run()
    {
        while (!pending_.empty()) {
            const LibraryFile& needer = *pending_.front();
            pending_.pop_front();
            for (const ImportedLibrary& import : needer.reading->image.imports)
                Check(needer, import);
        }
        return std::move(diagnosis_);
    }

private:
    void Check(const LibraryFile& needer, const ImportedLibrary& import)
    {
        if (IsSystemLibrary(import.name))
            return;
        const std::string neederName = BaseName(needer.requested);
        const auto [known, isNew] = found_.try_emplace(NameKey(import.name));
        if (isNew) {
            known->second = NamesAPath(import.name.c_str()) ? ExamineLibrary(import.name, "") : SearchOrder(&needer).Find(import.name);
            // Where a plain load fails, the module's second attempt finds it.
            if (known->second.path.empty() && !ownFolder_.empty() && IsFile(Join(ownFolder_, import.name))) {
                known->second = ExamineLibrary(Join(ownFolder_, import.name), "");
                diagnosis_.besideOnly.push_back(import.name);
            }
            known->second.requested = import.name;
            if (std::optional<LoadProblem> problem = ProblemOfFile(known->second, neederName)) {
                if (problem->kind == LoadProblem::Kind::kNotFound)
                    NoteElsewhere(*problem, needer);
                diagnosis_.problems.push_back(std::move(*problem));
            } else if (known->second.reading && !known->second.inSystemFolder) {
                pending_.push_back(&known->second);
            }
        }
        const LibraryFile& dependency = known->second;
        if (!dependency.reading || ProblemOfFile(dependency, neederName))
            return;
        const BinaryImage& exporter = dependency.reading->image;
        for (const std::string& function : import.functions)
            if (!exporter.Exports(function))
                diagnosis_.problems.push_back(MissingFunction(dependency, neederName, function));
        for (const std::uint32_t ordinal : import.ordinals)
            if (!exporter.ExportsOrdinal(ordinal))
                diagnosis_.problems.push_back(
                    MissingFunction(dependency, neederName, "ordinal " + std::to_string(ordinal)));
    }

    static LoadProblem MissingFunction(const LibraryFile& dependency, const std::string& neededBy, std::string function)
    {
        LoadProblem problem;
        problem.kind = LoadProblem::Kind::kMissingFunction;
        problem.file = dependency.path;
        problem.neededBy = neededBy;
        problem.format = dependency.reading->image.format;
        problem.architecture = DescribeArchitecture(dependency.reading->image);
        problem.detail = std::move(function);
        return problem;
    }

    static void NoteElsewhere(LoadProblem& problem, const LibraryFile& needer)
    {
        const std::string folder = FolderOf(needer.path);
        const bool searched = std::any_of(problem.searched.begin(), problem.searched.end(),
                                          [&](const SearchedFolder& f) { return NameKey(f.path) == NameKey(folder); });
        if (!folder.empty() && !searched && IsFile(Join(folder, problem.file)))
            problem.elsewhere = Join(folder, problem.file);
    }

    // The folder the module's second attempt searches first for every library
    // the load needs, when the module tries the library again at all.
    static std::string FolderSearchedWhenTriedAgain(const LibraryFile& library)
    {
        return platform::RetriesWithOwnFolder(library.requested.c_str()) ? FolderOf(library.path) : "";
    }

    const std::string ownFolder_;
    // Node-based, so that the pending pointers stay valid as it grows.
    std::map<std::string, LibraryFile> found_;
    std::deque<const LibraryFile*> pending_;
    LoadDiagnosis diagnosis_;
};

} // namespace

std::string LoaderFileName(const std::string& fileName)
{
#if defined(_WIN32)
    const std::string base = BaseName(fileName);
    if (!base.empty() && base.back() == '.')
        return fileName.substr(0, fileName.size() - 1);
    if (!base.empty() && base.find('.') == std::string::npos)
        return fileName + ".DLL";
#endif
    return fileName;
}

LibraryFile ExamineLibrary(const std::string& fileName, const std::string& installPath)
{
    if (!NamesAPath(fileName.c_str())) {
        LibraryFile library = SearchOrder(nullptr).Find(fileName);
        library.requested = fileName;
        return library;
    }
    LibraryFile library;
    library.requested = fileName;
    const std::string folder = FolderOf(fileName);
    const bool inInstallFolder = !installPath.empty() && NameKey(folder) == NameKey(installPath);
    library.searched.push_back({folder.empty() ? FolderOfBareName(fileName) : folder,
                                inInstallFolder ? "the install folder" : "the folder named"});
    if (IsFile(fileName)) {
        library.path = fileName;
        library.reading = ReadFile(fileName);
    }
    return library;
}

LoadDiagnosis DiagnoseLoad(const LibraryFile& library)
{
    if (std::optional<LoadProblem> problem = ProblemOfFile(library, ""))
        return {{std::move(*problem)}, {}};
    if (!library.reading)
        return {};
    return DependencyWalk(library).Run();
}

} // namespace zelbridge::tool
