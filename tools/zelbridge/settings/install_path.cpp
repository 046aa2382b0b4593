// Reading the install path through the module's own code, and naming where it
// was read with the tool's own view of the registry.
#include "install_path.h"

#include "loader/library_loader.h"
#include "os/os_services.h"
#include "platform/platform.h"

#include <filesystem>
#include <vector>

namespace zelbridge::tool {
namespace {

std::string TextOf(const std::string& bytes)
{
    return bytes.substr(0, bytes.find('\0'));
}

std::optional<OtherViewValue> ReadOtherView()
{
    const std::optional<os::SettingPlace> place = os::PlaceOf(os::View::kOther);
    const std::optional<os::StoredSetting> stored = os::ReadSetting(os::View::kOther);
    if (!place || !stored)
        return std::nullopt;
    return OtherViewValue{place->key, place->view, stored->type, TextOf(stored->bytes)};
}

} // namespace

bool InstallPathValue::Unusable() const noexcept
{
    return state == State::kTooLong || state == State::kNotText || (state == State::kUsable && !folderExists) ||
           OnlyInOtherView();
}

bool InstallPathValue::OnlyInOtherView() const noexcept
{
    return state == State::kNotSet && other && !other->text.empty();
}

std::string InstallPathValue::FixCommand(const std::string& folder) const
{
    const std::string viewOption = view.empty() ? "" : view == "32-bit" ? " /reg:32" : " /reg:64";
    return "reg add \"HKLM\\Software\\QX\\Zelbridge\" /v Path /t REG_SZ /d \"" + folder + "\" /f" + viewOption;
}

std::size_t LongestInstallPath() noexcept
{
    // The stored value, with its terminating zero, must fit the module's buffer.
    return kInstallPathCapacity - 1;
}

InstallPathValue ExamineInstallPath()
{
    InstallPathValue value;
    if (const std::optional<os::SettingPlace> place = os::PlaceOf(os::View::kModule)) {
        value.key = place->key;
        value.view = place->view;
    }
    value.other = ReadOtherView();
    // Room for far more than the module reads, to tell a value too long from none.
    std::vector<char> stored(1u << 16);
    std::uint32_t size = static_cast<std::uint32_t>(stored.size());
    if (!platform::QueryInstallPathValue(stored.data(), size))
        return value;
    value.size = size;
    const std::optional<os::StoredSetting> setting = os::ReadSetting(os::View::kModule);
    if (setting)
        value.type = setting->type;
    value.terminated = size == 0 || stored[size - 1] == '\0';
    if (size > kInstallPathCapacity) {
        value.state = InstallPathValue::State::kTooLong;
        return value;
    }
    value.path = ReadInstallPath();
    if (setting && !setting->isString) {
        value.state = InstallPathValue::State::kNotText;
        return value;
    }
    if (value.path.empty()) {
        value.state = InstallPathValue::State::kEmpty;
        return value;
    }
    value.state = InstallPathValue::State::kUsable;
    std::error_code error;
    value.folderExists = std::filesystem::is_directory(value.path, error);
    return value;
}

} // namespace zelbridge::tool
