// Probing driver and family libraries through the module's own system table
// and loader, so that the tool's report and the module's behaviour agree.
#include "library_probe.h"

#include "api/system_table.h"
#include "loader/library_loader.h"

#include <algorithm>
#include <memory>

namespace zelbridge::tool {
namespace {

using ModuleReference = std::unique_ptr<void, decltype(&platform::CloseModule)>;

// The file the loader opens for `name`.
std::string FileTried(const std::string& name)
{
    char buffer[kComposedNameCapacity];
    const char* fileName = ControllerLibraryFileName(name.c_str(), buffer);
    return fileName ? fileName : name;
}

// Loads as the family's availability check does; the error is taken while
// the composed name is still held, since releasing it may change it.
ModuleReference LoadFamilyLibrary(const FamilyDescriptor& family, SystemError& error)
{
    platform::ModuleHandle module = nullptr;
    if (family.loadStyle == LoadStyle::SharedLoader) {
        module = LoadControllerLibrary(family.libraryFileName);
        if (!module)
            error = CaptureLastError();
    } else {
        const std::unique_ptr<char[]> fileName = ComposeLibraryPath(family.libraryFileName);
        module = fileName ? platform::OpenModule(fileName.get()) : nullptr;
        if (!module)
            error = CaptureLastError();
    }
    return ModuleReference(module, &platform::CloseModule);
}

} // namespace

unsigned DriverReport::ExportedCount() const noexcept
{
    return static_cast<unsigned>(std::count(exported.begin(), exported.end(), true));
}

DriverReport ProbeDriver(const std::string& file, const std::string& prefix)
{
    DriverReport report;
    report.load.installPath = ReadInstallPath();
    // The system table loads the upper-cased name where file names ignore case.
    report.load.fileTried = FileTried(platform::kFileNamesIgnoreCase ? AsciiUpperCase(file) : file);
    SystemTable table;
    const std::int32_t index = table.Define(file.c_str(), prefix.c_str());
    if (index < 0) {
        report.load.error = CaptureLastError();
        return report;
    }
    report.load.loaded = true;
    const SystemBinding& system = *table.GetSystem(index);
    for (unsigned operation = 0; operation < kOperationCount; ++operation)
        report.exported[operation] = system.Exports(static_cast<Operation>(operation));
    table.ReleaseAll();
    return report;
}

FamilyReport ProbeFamily(const FamilyDescriptor& family)
{
    FamilyReport report;
    report.load.installPath = ReadInstallPath();
    report.load.fileTried = FileTried(family.libraryFileName);
    const ModuleReference module = LoadFamilyLibrary(family, report.load.error);
    if (!module)
        return report;
    report.load.loaded = true;
    for (std::size_t i = 0; i < family.driverFunctionCount; ++i)
        if (!platform::FindSymbol(module.get(), family.driverFunctionNames[i]))
            report.missing.emplace_back(family.driverFunctionNames[i]);
    return report;
}

} // namespace zelbridge::tool
