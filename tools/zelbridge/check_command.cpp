// check: how a driver or family library is found, whether it loads, and
// which of the functions the module looks up it exports.
#include "families/family_tables.h"
#include "library_probe.h"
#include "subcommands.h"
#include "tool_errors.h"

#include <iomanip>
#include <ostream>

namespace zelbridge::tool {
namespace {

void PrintField(std::ostream& out, const char* label, const std::string& value)
{
    out << std::left << std::setw(18) << label << value << '\n';
}

void PrintLoad(std::ostream& out, const LoadAttempt& load)
{
    PrintField(out, "Install path:", load.installPath.empty() ? "(none set)" : load.installPath);
    PrintField(out, "File tried:", load.fileTried);
    PrintField(out, "Loaded:", load.loaded ? "yes" : "no, " + load.error.Describe());
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

int CheckDriver(const std::string& driver, const std::string& prefix, std::ostream& out)
{
    const DriverReport report = ProbeDriver(driver, prefix);
    PrintField(out, "Driver library:", driver);
    PrintLoad(out, report.load);
    if (!report.load.loaded)
        return kFailure;
    out << "Exports " << report.ExportedCount() << " of the " << kOperationCount << " operations as \"" << prefix
        << "\" and the operation name:\n";
    for (unsigned operation = 0; operation < kOperationCount; ++operation)
        out << (report.exported[operation] ? "  yes  " : "  no   ") << prefix << kOperationNames[operation] << '\n';
    return report.ExportedCount() > 0 ? kSuccess : kFailure;
}

int CheckFamily(const std::string& name, std::ostream& out)
{
    const FamilyDescriptor& family = FindFamily(name);
    const FamilyReport report = ProbeFamily(family);
    PrintField(out, "Family:", family.prefix);
    PrintField(out, "Library file:", family.libraryFileName);
    PrintLoad(out, report.load);
    if (!report.load.loaded)
        return kFailure;
    if (report.missing.empty()) {
        out << "All " << family.driverFunctionCount << " driver functions are present.\n";
        return kSuccess;
    }
    out << report.missing.size() << " of the " << family.driverFunctionCount
        << " driver functions are missing, so the family does not use the library:\n";
    for (const std::string& function : report.missing)
        out << "  " << function << '\n';
    return kFailure;
}

} // namespace

int RunCheck(const Invocation& request, std::ostream& out)
{
    if (request.family)
        return CheckFamily(*request.family, out);
    return CheckDriver(*request.driver, *request.prefix, out);
}

} // namespace zelbridge::tool
