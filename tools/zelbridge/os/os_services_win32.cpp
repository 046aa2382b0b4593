// The tool's own Windows calls: the console check and the install-path value
// in the 32-bit and 64-bit registry views.
#include "os_services.h"

#include <windows.h>

#include <aclapi.h>
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
    const DWORD existing = ::GetFileAttributesA(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::LocalFree(descriptor);
        return "it is a link; name the file itself";
    }
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

namespace {

// Whether the access list lets anyone but the owner and the system read or
// write the file: a missing list, or an allowing entry for a group that
// holds other people.
bool OthersMayUse(HANDLE file)
{
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                          &descriptor) != ERROR_SUCCESS)
        return true;
    bool others = list == nullptr;
    constexpr WELL_KNOWN_SID_TYPE kGroups[] = {WinWorldSid, WinAuthenticatedUserSid, WinBuiltinUsersSid,
                                               WinBuiltinGuestsSid, WinAnonymousSid, WinNetworkSid,
                                               WinInteractiveSid};
    constexpr ACCESS_MASK kUse = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ | GENERIC_WRITE |
                                 GENERIC_ALL;
    for (DWORD i = 0; list && !others && i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!::GetAce(list, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kUse) == 0)
            continue;
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        for (WELL_KNOWN_SID_TYPE group : kGroups) {
            BYTE buffer[SECURITY_MAX_SID_SIZE];
            DWORD size = sizeof buffer;
            if (::CreateWellKnownSid(group, nullptr, buffer, &size) && ::EqualSid(sid, buffer))
                others = true;
        }
    }
    ::LocalFree(descriptor);
    return others;
}

} // namespace

std::string ReadPrivateFile(const std::string& path, std::string& text, bool& exists)
{
    exists = false;
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? "" : "error " + std::to_string(error);
    }
    exists = true;
    BY_HANDLE_FILE_INFORMATION information{};
    std::string failure;
    if (!::GetFileInformationByHandle(file, &information))
        failure = "error " + std::to_string(::GetLastError());
    else if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        failure = "it is a link or a folder; name the file itself";
    else if (OthersMayUse(file))
        failure = "others can read or write it; make it private with: icacls \"" + path +
                  "\" /inheritance:r /grant:r \"%USERNAME%:F\"";
    for (char chunk[4096]; failure.empty() && text.size() < (1u << 16);) {
        DWORD got = 0;
        if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr))
            failure = "error " + std::to_string(::GetLastError());
        if (got == 0)
            break;
        text.append(chunk, got);
    }
    ::CloseHandle(file);
    return failure;
}

std::optional<std::string> RealPath(const std::string& path)
{
    const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        const std::string::size_type separator = path.find_last_of("\\/");
        if (error != ERROR_FILE_NOT_FOUND || separator == std::string::npos || separator == 0 || separator + 1 == path.size())
            return std::nullopt;
        const std::optional<std::string> folder = RealPath(path.substr(0, separator + (path[separator - 1] == ':')));
        if (!folder)
            return std::nullopt;
        return *folder + (folder->back() == '\\' ? "" : "\\") + path.substr(separator + 1);
    }
    char buffer[32768];
    const DWORD length = ::GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (length == 0 || length >= sizeof buffer)
        return std::nullopt;
    std::string resolved(buffer, length);
    if (resolved.rfind("\\\\?\\UNC\\", 0) == 0)
        return "\\" + resolved.substr(7);
    if (resolved.rfind("\\\\?\\", 0) == 0)
        return resolved.substr(4);
    return resolved;
}

} // namespace zelbridge::tool::os
