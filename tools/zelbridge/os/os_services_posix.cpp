// The tool's own calls on systems other than Windows: the terminal check, and
// the install path, which is an environment variable of the user's shell.
#include "os_services.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
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

std::vector<unsigned char> RandomBytes(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    std::ifstream source("/dev/urandom", std::ios::binary);
    if (!source.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count)))
        throw std::runtime_error("cannot read /dev/urandom");
    return bytes;
}

std::string DefaultTokenFile()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] != '\0')
        return std::string(runtime) + "/zelbridge-serve-token";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] != '\0' ? home : ".") + "/.zelbridge-serve-token";
}

std::string WritePrivateFile(const std::string& path, const std::string& text)
{
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0)
        return std::strerror(errno);
    // An existing file keeps its mode through open: it is narrowed first.
    std::string failure;
    if (::fchmod(file, 0600) != 0 || ::write(file, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        failure = std::strerror(errno);
    ::close(file);
    return failure;
}

std::string ReadPrivateFile(const std::string& path, std::string& text, bool& exists)
{
    exists = false;
    const int file = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) {
        if (errno == ENOENT)
            return "";
        if (errno == ELOOP)
            return "it is a symbolic link; name the file itself";
        return std::strerror(errno);
    }
    exists = true;
    struct stat status {};
    std::string failure;
    if (::fstat(file, &status) != 0)
        failure = std::strerror(errno);
    else if (!S_ISREG(status.st_mode))
        failure = "it is not a regular file";
    else if ((status.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0)
        failure = "others can read or write it; make it private with: chmod 600 " + path;
    for (char chunk[4096]; failure.empty() && text.size() < (1u << 16);) {
        const ssize_t got = ::read(file, chunk, sizeof chunk);
        if (got < 0)
            failure = std::strerror(errno);
        if (got <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(file);
    return failure;
}

std::optional<std::string> RealPath(const std::string& path)
{
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved = real;
        std::free(real);
        return resolved;
    }
    const std::filesystem::path given(path);
    if (errno != ENOENT || !given.has_parent_path() || given.filename().empty())
        return std::nullopt;
    char* folder = ::realpath(given.parent_path().c_str(), nullptr);
    if (!folder)
        return std::nullopt;
    std::string resolved = folder;
    std::free(folder);
    return resolved + (resolved == "/" ? "" : "/") + given.filename().string();
}

} // namespace zelbridge::tool::os
