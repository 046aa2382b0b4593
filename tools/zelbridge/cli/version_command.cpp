// zelbridge --version: the tool's own version, and the version and full name
// of the module it would load, so that a mismatch shows at once.
#include "diagnosis/system_error.h"
#include "os/os_services.h"
#include "platform/platform.h"
#include "subcommands.h"
#include "tool_errors.h"

#include <filesystem>
#include <ostream>
#include <string>

#ifndef ZELBRIDGE_TOOL_VERSION
#error "the build gives the project's version"
#endif

namespace zelbridge::tool {

int RunVersion(std::ostream& out)
{
    out << "zelbridge " ZELBRIDGE_TOOL_VERSION "\n";
    // Loaded the way the other subcommands load it, so that the file named
    // is the one they use.
    const platform::ModuleHandle module = platform::OpenModule(ZELBRIDGE_MODULE_FILE);
    if (!module) {
        out << ZELBRIDGE_MODULE_FILE ": cannot load: " << CaptureLastError(ZELBRIDGE_MODULE_FILE).Describe() << "\n";
        return kFailure;
    }
    const platform::ProcAddress entry = platform::FindSymbol(module, "DefineSystem");
    char path[4096] = "";
    const bool named = entry && platform::ModuleFileOf(reinterpret_cast<const void*>(entry), path, sizeof path);
    platform::CloseModule(module);
    if (!named) {
        out << ZELBRIDGE_MODULE_FILE ": loaded, but its file is not known\n";
        return kFailure;
    }
    // A run path leaves "bin/../lib" in the name; the reader wants the folder.
    const std::string name = std::filesystem::path(path).lexically_normal().string();
    out << ZELBRIDGE_MODULE_FILE " " << os::LibraryVersion(name).value_or("(no version)") << " " << name << "\n";
    return kSuccess;
}

} // namespace zelbridge::tool
