// Test surroundings on Windows (registry, module file name) and POSIX
// (environment, /proc/self/exe).
#include "test_environment.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zelbridge::test {

#if defined(_WIN32)

namespace {
constexpr const char kInstallKey[] = "Software\\QX\\Zelbridge";

std::optional<std::string> ReadRegistryPath()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char data[4096];
    DWORD size = sizeof data;
    const LONG status = RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(data, size);
}

// Raw bytes go in as REG_BINARY: a string value could be given a terminating
// zero on the way back, and the product reads the bytes whatever the type.
void WriteRegistryPath(const std::string& bytes, DWORD type = REG_SZ)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the install-path key");
    RegSetValueExA(key, "Path", 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void DeleteRegistryPath()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "Path");
    RegCloseKey(key);
}
} // namespace

struct ScopedInstallPath::Saved {
    std::optional<std::string> value = ReadRegistryPath();
};

ScopedInstallPath::ScopedInstallPath() : saved_(std::make_unique<Saved>()) {}

ScopedInstallPath::~ScopedInstallPath()
{
    if (saved_->value)
        WriteRegistryPath(*saved_->value);
    else
        DeleteRegistryPath();
}

void ScopedInstallPath::Set(const std::string& path) { WriteRegistryPath(std::string(path.c_str(), path.size() + 1)); }
void ScopedInstallPath::SetRaw(const std::string& bytes) { WriteRegistryPath(bytes, REG_BINARY); }
void ScopedInstallPath::Remove() { DeleteRegistryPath(); }

std::string BinaryDirectory()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/"));
}

char PathSeparator() { return '\\'; }

void SetEnvironment(const char* name, const char* value)
{
    const std::string assignment = std::string(name) + "=" + value;
    _putenv(assignment.c_str());
    SetEnvironmentVariableA(name, value);
}

void UnsetEnvironment(const char* name)
{
    const std::string assignment = std::string(name) + "=";
    _putenv(assignment.c_str());
    SetEnvironmentVariableA(name, nullptr);
}

#else

namespace {
constexpr const char kInstallVariable[] = "ZELBRIDGE_PATH";
}

struct ScopedInstallPath::Saved {
    std::optional<std::string> value;
};

ScopedInstallPath::ScopedInstallPath() : saved_(std::make_unique<Saved>())
{
    if (const char* value = std::getenv(kInstallVariable))
        saved_->value = value;
}

ScopedInstallPath::~ScopedInstallPath()
{
    if (saved_->value)
        setenv(kInstallVariable, saved_->value->c_str(), 1);
    else
        unsetenv(kInstallVariable);
}

void ScopedInstallPath::Set(const std::string& path) { setenv(kInstallVariable, path.c_str(), 1); }
void ScopedInstallPath::SetRaw(const std::string& bytes) { setenv(kInstallVariable, bytes.c_str(), 1); }
void ScopedInstallPath::Remove() { unsetenv(kInstallVariable); }

std::string BinaryDirectory()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string full(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return full.substr(0, full.find_last_of('/'));
}

char PathSeparator() { return '/'; }

void SetEnvironment(const char* name, const char* value) { setenv(name, value, 1); }
void UnsetEnvironment(const char* name) { unsetenv(name); }

#endif

std::string BinaryPath(const std::string& fileName, const std::string& folder)
{
    std::string path = BinaryDirectory() + PathSeparator();
    if (!folder.empty())
        path += folder + PathSeparator();
    return path + fileName;
}

ScopedDriverScript::ScopedDriverScript() : script_(std::make_unique<DriverScript>())
{
    // make_unique value-initialises: the script starts zeroed and unlocked.
    char address[32];
    std::snprintf(address, sizeof address, "%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(script_.get())));
    SetEnvironment(kDriverScriptVariable, address);
}

ScopedDriverScript::~ScopedDriverScript()
{
    UnsetEnvironment(kDriverScriptVariable);
}

void ScopedDriverScript::SetResult(const char* function, std::int32_t value)
{
    for (int i = 0; i < script_->resultCount; ++i) {
        if (std::strcmp(script_->results[i].function, function) == 0) {
            script_->results[i].value = value;
            return;
        }
    }
    if (script_->resultCount == static_cast<int>(sizeof script_->results / sizeof script_->results[0]))
        throw std::length_error("too many scripted results");
    DriverScript::Result& result = script_->results[script_->resultCount++];
    std::snprintf(result.function, sizeof result.function, "%s", function);
    result.value = value;
}

void ScopedDriverScript::SetAnswer(const char* text, std::int32_t size)
{
    std::snprintf(script_->answer, sizeof script_->answer, "%s", text);
    script_->answerSize = size;
}

int ScopedDriverScript::CountOf(const std::string& event) const
{
    for (const DriverScript::Count& count : script_->counts)
        if (event == count.event)
            return count.value.load();
    return 0;
}

std::string ScopedDriverScript::Log() const { return std::string(script_->log, script_->logLength); }

void ScopedDriverScript::ClearLog()
{
    script_->logLength = 0;
    script_->log[0] = '\0';
}

} // namespace zelbridge::test
