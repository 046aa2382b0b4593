// The install-path setting as the module reads it, where it reads it (key and
// registry view), and the value a user may have left in the other view: one
// reading shared by check and config.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zelbridge::tool {

// The value in the registry view the module does not read.
struct OtherViewValue {
    std::string key;
    std::string view;
    std::string type;
    // Its text, up to the first zero.
    std::string text;
};

struct InstallPathValue {
    enum class State {
        kNotSet,
        // Stored without any character: the module looks for bare names by the search order.
        kEmpty,
        // Longer than the module reads: it is taken as not set.
        kTooLong,
        // Not a string type (REG_DWORD, REG_BINARY...): the module reads its bytes all the same.
        kNotText,
        kUsable,
    };
    State state = State::kNotSet;
    // Where the module reads it: the key, or the environment variable, and
    // the registry view ("32-bit", "64-bit"; empty where there is one).
    std::string key;
    std::string view;
    // "REG_SZ", "REG_BINARY", ... or "environment variable"; empty when not set.
    std::string type;
    // The path the module uses; empty unless usable, or what it makes of a value not text.
    std::string path;
    // The bytes stored, with the terminating zero when there is one.
    std::uint32_t size = 0;
    // The stored bytes end in a zero; without one the module drops the last character.
    bool terminated = true;
    bool folderExists = false;
    std::optional<OtherViewValue> other;

    bool Unusable() const noexcept;
    // Set only in the view the module does not read: the most common set-up
    // mistake with a 32-bit module on 64-bit Windows.
    bool OnlyInOtherView() const noexcept;
    // The command that stores `folder` where the module reads it.
    std::string FixCommand(const std::string& folder) const;
};

InstallPathValue ExamineInstallPath();

// The longest path, in characters, the module takes.
std::size_t LongestInstallPath() noexcept;

} // namespace zelbridge::tool
