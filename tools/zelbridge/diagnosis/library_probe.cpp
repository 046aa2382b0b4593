// Probing driver, family and graph libraries through the module's own system
// table and loader, so that the tool's report and the module's behaviour agree.
#include "library_probe.h"

#include "api/system_table.h"
#include "families/family_tables.h"
#include "graph/graph_functions.h"
#include "load_diagnosis.h"
#include "loader/library_loader.h"

#include <algorithm>
#include <memory>

namespace zelbridge::tool {
namespace {

using ModuleReference = std::unique_ptr<void, decltype(&platform::CloseModule)>;

// The file the loader opens for `name`.
std::string ControllerFileTried(const std::string& name)
{
    char buffer[kComposedNameCapacity];
    const char* fileName = ControllerLibraryFileName(name.c_str(), buffer);
    return fileName ? fileName : name;
}

// Loads as the module does; the error is taken while the composed name is
// still held, since releasing it may change it.
ModuleReference LoadRequiredLibrary(const RequiredLibrary& library, const std::string& fileTried, SystemError& error)
{
    platform::ModuleHandle module = nullptr;
    if (library.sharedLoader) {
        module = LoadControllerLibrary(library.fileName);
        if (!module)
            error = CaptureLastError(fileTried);
    } else {
        const std::unique_ptr<char[]> fileName = ComposeLibraryPath(library.fileName);
        module = fileName ? platform::OpenModule(fileName.get()) : nullptr;
        if (!module)
            error = CaptureLastError(fileName ? fileName.get() : library.fileName);
    }
    return ModuleReference(module, &platform::CloseModule);
}

} // namespace

unsigned DriverReport::ExportedCount() const noexcept
{
    return static_cast<unsigned>(std::count(exported.begin(), exported.end(), true));
}

std::string DriverFileTried(const std::string& file)
{
    // DefineSystem upper-cases the name where file names ignore case; it is
    // shown as the user wrote it, which names the same file.
    return LoaderFileName(ControllerFileTried(file));
}

DriverReport ProbeDriver(const std::string& file, const std::string& prefix)
{
    DriverReport report;
    report.load.installPath = ReadInstallPath();
    report.load.fileTried = DriverFileTried(file);
    SystemTable table;
    const std::int32_t index = table.Define(file.c_str(), prefix.c_str());
    if (index < 0) {
        report.load.error = CaptureLastError(report.load.fileTried);
        return report;
    }
    report.load.loaded = true;
    const SystemBinding& system = *table.GetSystem(index);
    for (unsigned operation = 0; operation < kOperationCount; ++operation)
        report.exported[operation] = system.Exports(static_cast<Operation>(operation));
    table.ReleaseAll();
    return report;
}

RequiredLibrary FamilyLibrary(const FamilyDescriptor& family)
{
    return {family.prefix, family.libraryFileName, family.loadStyle == LoadStyle::SharedLoader,
            family.driverFunctionNames, family.driverFunctionCount};
}

std::vector<RequiredLibrary> RequiredLibraries()
{
    std::vector<RequiredLibrary> libraries;
    for (const FamilyDescriptor& family : kFamilyDescriptors)
        libraries.push_back(FamilyLibrary(family));
    libraries.push_back({"QXGraph3D", kGraphLibraryFile, true, kGraphFunctionNames, kGraphFunctionCount});
    return libraries;
}

std::string FileTried(const RequiredLibrary& library)
{
    if (library.sharedLoader)
        return ControllerFileTried(library.fileName);
    const std::unique_ptr<char[]> fileName = ComposeLibraryPath(library.fileName);
    return fileName ? fileName.get() : library.fileName;
}

RequiredLibraryReport ProbeRequiredLibrary(const RequiredLibrary& library)
{
    RequiredLibraryReport report;
    report.load.installPath = ReadInstallPath();
    report.load.fileTried = FileTried(library);
    const ModuleReference module = LoadRequiredLibrary(library, report.load.fileTried, report.load.error);
    if (!module)
        return report;
    report.load.loaded = true;
    for (std::size_t i = 0; i < library.functionCount; ++i)
        if (!platform::FindSymbol(module.get(), library.functionNames[i]))
            report.missing.emplace_back(library.functionNames[i]);
    return report;
}

} // namespace zelbridge::tool
