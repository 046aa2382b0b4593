// The tool's own Windows calls: the console check and the install-path value
// in the 32-bit and 64-bit registry views.
#include "os_services.h"

#include <windows.h>

#include <bcrypt.h>
#include <sddl.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelbridge::tool::os {
namespace {

constexpr char kKey[] = "Software\\QX\\Zelbridge";
constexpr char kValue[] = "Path";
constexpr bool k64BitProcess = sizeof(void*) == 8;

// A 32-bit process on 64-bit Windows, whose registry reads go to WOW6432Node.
bool RunsOn64BitWindows()
{
    if (k64BitProcess)
        return true;
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

bool Is64BitView(View view)
{
    return (view == View::kModule) == k64BitProcess;
}

REGSAM ViewFlag(View view)
{
    if (!RunsOn64BitWindows())
        return 0;
    return Is64BitView(view) ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

struct TypeName {
    DWORD type;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_QWORD, "REG_QWORD"},
    {REG_LINK, "REG_LINK"},
    {REG_NONE, "REG_NONE"},
};

std::string NameOf(DWORD type)
{
    for (const TypeName& known : kTypeNames)
        if (known.type == type)
            return known.name;
    return "type " + std::to_string(type);
}

} // namespace

const std::uint32_t kAccessDenied = ERROR_ACCESS_DENIED;

bool StandardInputIsTerminal() noexcept
{
    return ::GetFileType(::GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR;
}

std::string ProgramPath()
{
    // A longer buffer each time the name fills it: a path may be longer than MAX_PATH.
    for (DWORD capacity = MAX_PATH;; capacity *= 2) {
        std::vector<char> path(capacity);
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), capacity);
        if (length == 0)
            return "";
        if (length < capacity)
            return std::string(path.data(), length);
        if (capacity >= 32768)
            return "";
    }
}

std::optional<std::string> LibraryVersion(const std::string& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed)
        return std::nullopt;
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS));
}

std::optional<SettingPlace> PlaceOf(View view)
{
    if (view == View::kOther && !RunsOn64BitWindows())
        return std::nullopt;
    SettingPlace place;
    place.key = Is64BitView(view) || !RunsOn64BitWindows() ? "HKEY_LOCAL_MACHINE\\Software\\QX\\Zelbridge"
                                                           : "HKEY_LOCAL_MACHINE\\Software\\WOW6432Node\\QX\\Zelbridge";
    if (RunsOn64BitWindows())
        place.view = Is64BitView(view) ? "64-bit" : "32-bit";
    return place;
}

std::optional<StoredSetting> ReadSetting(View view)
{
    if (!PlaceOf(view))
        return std::nullopt;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | ViewFlag(view), &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status = ::RegQueryValueExA(key, kValue, nullptr, &type, nullptr, &size);
    std::vector<BYTE> bytes(size);
    if (status == ERROR_SUCCESS && size > 0)
        status = ::RegQueryValueExA(key, kValue, nullptr, &type, bytes.data(), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    StoredSetting setting;
    setting.type = NameOf(type);
    setting.isString = type == REG_SZ || type == REG_EXPAND_SZ;
    setting.bytes.assign(bytes.begin(), bytes.begin() + size);
    return setting;
}

std::uint32_t WriteSetting(const std::string& path)
{
    HKEY key = nullptr;
    LONG status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | ViewFlag(View::kModule),
                                    nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<std::uint32_t>(status);
    status = ::RegSetValueExA(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                              static_cast<DWORD>(path.size() + 1));
    ::RegCloseKey(key);
    return static_cast<std::uint32_t>(status);
}

std::uint32_t RemoveSetting()
{
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE | ViewFlag(View::kModule), &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return 0;
    if (status != ERROR_SUCCESS)
        return static_cast<std::uint32_t>(status);
    status = ::RegDeleteValueA(key, kValue);
    ::RegCloseKey(key);
    return status == ERROR_FILE_NOT_FOUND ? 0 : static_cast<std::uint32_t>(status);
}

std::vector<unsigned char> RandomBytes(std::size_t count)
{
    std::vector<unsigned char> bytes(count);
    if (::BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        throw std::runtime_error("the system's random generator failed");
    return bytes;
}

std::string DefaultTokenFile()
{
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("LOCALAPPDATA", folder, sizeof folder);
    const std::string base = length > 0 && length < sizeof folder ? folder : ".";
    ::CreateDirectoryA((base + "\\Zelbridge").c_str(), nullptr);
    return base + "\\Zelbridge\\serve-token";
}

std::string WritePrivateFile(const std::string& path, const std::string& text)
{
    // Full access for the file's owner and the system alone, nothing inherited.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;OW)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return "cannot make the file's access list (error " + std::to_string(::GetLastError()) + ")";
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE | WRITE_DAC, 0, &attributes, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string failure;
    if (file == INVALID_HANDLE_VALUE) {
        failure = "error " + std::to_string(::GetLastError());
    } else {
        // CREATE_ALWAYS keeps the access list of a file that was there.
        DWORD written = 0;
        if (!::SetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor) ||
            !::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size())
            failure = "error " + std::to_string(::GetLastError());
        ::CloseHandle(file);
    }
    ::LocalFree(descriptor);
    return failure;
}

} // namespace zelbridge::tool::os
