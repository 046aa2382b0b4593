// The tool's own calls on systems other than Windows: the terminal check, and
// the install path, which is an environment variable of the user's shell.
#include "os_services.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace zelbridge::tool::os {

const std::uint32_t kAccessDenied = EACCES;

bool StandardInputIsTerminal() noexcept
{
    return ::isatty(STDIN_FILENO) == 1;
}

std::string ProgramPath()
{
    // dladdr would give the program's name as it was invoked, not its path.
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

std::optional<std::string> LibraryVersion(const std::string& path)
{
    char* const real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return std::nullopt;
    const std::string file = real;
    std::free(real);
    const std::string::size_type name = file.rfind('/') + 1;
    const std::string::size_type suffix = file.find(".so.", name);
    if (suffix == std::string::npos)
        return std::nullopt;
    return file.substr(suffix + 4);
}

std::optional<SettingPlace> PlaceOf(View view)
{
    if (view == View::kOther)
        return std::nullopt;
    return SettingPlace{"ZELBRIDGE_PATH", ""};
}

std::optional<StoredSetting> ReadSetting(View view)
{
    const char* value = view == View::kModule ? ::secure_getenv("ZELBRIDGE_PATH") : nullptr;
    if (!value)
        return std::nullopt;
    return StoredSetting{"environment variable", true, std::string(value, std::strlen(value) + 1)};
}

// A program cannot set its caller's environment: config tells what to export instead.
std::uint32_t WriteSetting(const std::string&)
{
    return ENOTSUP;
}

std::uint32_t RemoveSetting()
{
    return ENOTSUP;
}

} // namespace zelbridge::tool::os
