// What the tool itself asks of the operating system, beyond the module's own
// platform layer: whether input comes from a terminal, where the program is, and the install-path
// setting in each registry view, read, written and removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelbridge::tool::os {

bool StandardInputIsTerminal() noexcept;

// The full file name of the running program; empty when the system does not say.
std::string ProgramPath();

// The version a library file carries, "1.2.3": its version resource on
// Windows, the version its file name ends in (libZelbridge.so.1.2.3, where
// the soname's link leads) elsewhere. None when it carries none.
std::optional<std::string> LibraryVersion(const std::string& path);

// The registry view the module reads (that of a process of its width), and
// the other one, which a 64-bit Windows keeps apart.
enum class View { kModule, kOther };

// Where the install path is kept in one view, as a person would look it up.
struct SettingPlace {
    // "HKEY_LOCAL_MACHINE\Software\WOW6432Node\QX\Zelbridge", or "ZELBRIDGE_PATH".
    std::string key;
    // "32-bit", "64-bit", or empty where there is one view only.
    std::string view;
};

// None for kOther where there is no other view (32-bit Windows, other systems).
std::optional<SettingPlace> PlaceOf(View view);

struct StoredSetting {
    // "REG_SZ", "REG_DWORD", ... or "environment variable".
    std::string type;
    bool isString = true;
    // The stored bytes, with the terminating zero when there is one.
    std::string bytes;
};

// None when the value is not there.
std::optional<StoredSetting> ReadSetting(View view);

// Whether this system keeps the setting where the tool can write it (the
// registry); elsewhere it is an environment variable of the user's shell.
constexpr bool kSettingIsWritable =
#if defined(_WIN32)
    true;
#else
    false;
#endif

// Write the path as a string, or remove the value, in the module's view:
// 0, or the system's error code.
std::uint32_t WriteSetting(const std::string& path);
std::uint32_t RemoveSetting();
// The code a write without the right to it fails with.
extern const std::uint32_t kAccessDenied;

// `count` bytes from the system's cryptographic generator; throws
// std::runtime_error when it cannot give them.
std::vector<unsigned char> RandomBytes(std::size_t count);

// Where serve keeps its token unless told: a file in the user's own
// folder (%LOCALAPPDATA%\Zelbridge, $XDG_RUNTIME_DIR or the home folder).
std::string DefaultTokenFile();

// Writes `text` to a file that only its owner can read or write, replacing
// it; empty, or the reason it failed. A link at `path` is not followed.
std::string WritePrivateFile(const std::string& path, const std::string& text);

// Reads a file only its owner may read or write, opened without following
// a link: `exists` false when there is none. Empty, or why it is refused
// (a link, a file others can read or write, with the command that mends it).
std::string ReadPrivateFile(const std::string& path, std::string& text, bool& exists);

// The absolute path of `path` with every link followed, as the system opens
// it; for a file not there yet, its folder's real path and its name. None
// when even the folder cannot be found.
std::optional<std::string> RealPath(const std::string& path);

} // namespace zelbridge::tool::os
