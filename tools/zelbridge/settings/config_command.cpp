// zelbridge config: shows the install path where the module reads it, and
// stores or removes it there (the registry view of the module's width).
#include "cli/subcommands.h"
#include "cli/tool_errors.h"
#include "diagnosis/check_report.h"
#include "diagnosis/system_error.h"
#include "install_path.h"
#include "os/os_services.h"

#include <filesystem>
#include <ostream>

#ifndef ZELBRIDGE_MODULE_FILE
#error "the build names the Zelbridge module file"
#endif

namespace zelbridge::tool {
namespace {

namespace fs = std::filesystem;

std::string PlaceText(const InstallPathValue& value)
{
    return value.key + ", value Path" + (value.view.empty() ? "" : ", " + value.view + " view");
}

// The folder as the module should compose names with it: absolute, so that
// it does not depend on the application's current folder, and without a
// trailing separator, which would double the one the module adds.
std::string FolderToStore(const std::string& written)
{
    std::error_code error;
    fs::path folder = fs::absolute(fs::path(written), error);
    if (error)
        folder = written;
    std::string text = folder.string();
    const std::string root = folder.root_path().string();
    while (text.size() > root.size() && (text.back() == '/' || text.back() == '\\'))
        text.pop_back();
    return text;
}

// A library is what the module loads from the folder: a DLL, or a shared library.
bool HoldsALibrary(const fs::path& folder)
{
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string extension = entry->path().extension().string();
        for (char& c : extension)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (extension == ".dll" || extension == ".so")
            return true;
    }
    return false;
}

// A file for a folder is a plain mistake and is refused; a folder that is
// not there yet, or still empty, may be filled after, and is only warned of.
void WarnAbout(const std::string& folder, std::ostream& err)
{
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    const fs::path parent = fs::path(folder).parent_path();
    if (fs::exists(status) && !fs::is_directory(status))
        throw Failure(folder + " is a file, not a folder: give the folder that holds the driver libraries" +
                      (parent.empty() ? std::string() : ", such as " + parent.string()));
    const char* const stored = os::kSettingIsWritable ? "; stored all the same" : "";
    if (!fs::exists(status))
        err << "zelbridge: warning: " << folder << " does not exist (yet)" << stored
            << "; put the driver libraries there\n";
    else if (!HoldsALibrary(folder))
        err << "zelbridge: warning: " << folder << " holds no library for " ZELBRIDGE_MODULE_FILE " to load" << stored
            << "; put the driver libraries there\n";
}

[[noreturn]] void FailToChange(const char* what, const InstallPathValue& place, std::uint32_t code)
{
    std::string reason = "cannot " + std::string(what) + " " + PlaceText(place) + ": ";
    if (code == os::kAccessDenied)
        throw Failure(reason + "access denied; run zelbridge config from a command prompt opened with "
                               "\"Run as administrator\"");
    platform::SetLastError(code);
    throw Failure(reason + CaptureLastError().Describe());
}

int StorePath(const std::string& written, std::ostream& out, std::ostream& err)
{
    const std::string folder = FolderToStore(written);
    if (folder.size() > LongestInstallPath())
        throw Failure("the path is " + std::to_string(folder.size()) + " characters long; " ZELBRIDGE_MODULE_FILE
                      " reads at most " + std::to_string(LongestInstallPath()));
    const InstallPathValue before = ExamineInstallPath();
    WarnAbout(folder, err);
    if (!os::kSettingIsWritable) {
        out << "The install path is the environment variable " << before.key << "; nothing is stored: set it in "
            << "the shell that runs the application:\n  export " << before.key << "='" << folder << "'\n";
        return kSuccess;
    }
    if (const std::uint32_t code = os::WriteSetting(folder))
        FailToChange("write", before, code);
    out << "Install path set to " << folder << " in " << PlaceText(before) << ".\n"
        << "Applications read it when they load " ZELBRIDGE_MODULE_FILE "; restart those already running.\n";
    return kSuccess;
}

int RemovePath(std::ostream& out)
{
    const InstallPathValue before = ExamineInstallPath();
    if (!os::kSettingIsWritable) {
        out << "The install path is the environment variable " << before.key
            << "; remove it in the shell that runs the application:\n  unset " << before.key << "\n";
        return kSuccess;
    }
    if (before.state == InstallPathValue::State::kNotSet) {
        out << "No install path is set in " << PlaceText(before) << ".\n";
        return kSuccess;
    }
    if (const std::uint32_t code = os::RemoveSetting())
        FailToChange("remove the value from", before, code);
    out << "Install path removed from " << PlaceText(before) << ".\n";
    return kSuccess;
}

} // namespace

int RunConfig(const Invocation& request, std::ostream& out, std::ostream& err)
{
    if (request.installPath)
        return StorePath(*request.installPath, out, err);
    if (request.unset)
        return RemovePath(out);
    const InstallPathValue value = ExamineInstallPath();
    WriteText(value, out);
    if (!os::kSettingIsWritable && value.state == InstallPathValue::State::kNotSet)
        out << "Set it in the shell that runs the application: export " << value.key << "=/path/to/drivers\n";
    return kSuccess;
}

} // namespace zelbridge::tool
