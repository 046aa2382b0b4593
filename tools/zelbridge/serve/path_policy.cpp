// Which files a client may make the server or a driver open: a driver
// library named by its file name alone, or one whose real path lies where
// the operator allowed libraries; a file a driver reads only where the
// operator allowed data. Paths are compared once every link is followed,
// and the driver is given the path that was checked.
#include "path_policy.h"

#include "api_error.h"
#include "cli/tool_errors.h"
#include "os/os_services.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

namespace zelbridge::tool::serve {
namespace {

bool NamesAPath(const std::string& name)
{
    return name.find_first_of(":\\/") != std::string::npos;
}

bool IsAbsolute(const std::string& name)
{
#if defined(_WIN32)
    const bool drive = name.size() > 2 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
    return drive || name.rfind("\\\\", 0) == 0 || name.rfind("//", 0) == 0;
#else
    return !name.empty() && name[0] == '/';
#endif
}

bool SameText(const std::string& a, const std::string& b)
{
#if defined(_WIN32)
    // Windows file names compare without case, and either slash separates.
    const auto fold = [](char c) { return c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
#else
    return a == b;
#endif
}

bool HasParentStep(const std::string& name)
{
    std::string step;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (step == "..")
                return true;
            step.clear();
        } else {
            step += name[i];
        }
    }
    return false;
}

bool IsSeparator(char c)
{
#if defined(_WIN32)
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// The operations whose text argument (by position) a driver may open as a
// file: the simulator's ConnectUSB reads the description or recording it names.
struct FileArgument {
    const char* operation;
    std::size_t position;
};
constexpr FileArgument kFileArguments[] = {{"ConnectUSB", 0}};

} // namespace

PathPolicy::PathPolicy(const std::vector<std::string>& libraries, const std::vector<std::string>& dataFolders)
{
    const auto resolve = [](const std::vector<std::string>& given, const char* option, std::vector<Place>& places) {
        for (const std::string& place : given) {
            const std::optional<std::string> real = os::RealPath(place);
            std::error_code ignored;
            if (!real || !std::filesystem::exists(*real, ignored))
                throw Failure(std::string(option) + " " + place + ": no such file or folder");
            places.push_back({*real, std::filesystem::is_directory(*real, ignored)});
        }
    };
    resolve(libraries, "--allow-library", libraries_);
    resolve(dataFolders, "--allow-data", data_);
}

bool PathPolicy::Within(const std::string& real, const std::vector<Place>& places)
{
    return std::any_of(places.begin(), places.end(), [&](const Place& place) {
        if (SameText(real, place.real))
            return true;
        if (!place.folder)
            return false;
        const bool rooted = !place.real.empty() && IsSeparator(place.real.back());
        const std::size_t length = place.real.size() + (rooted ? 0 : 1);
        return real.size() > length && SameText(real.substr(0, place.real.size()), place.real) &&
               IsSeparator(real[length - 1]);
    });
}

std::string PathPolicy::Library(const std::string& library) const
{
    if (!NamesAPath(library))
        return library;
    if (!IsAbsolute(library) || HasParentStep(library))
        Refuse(403, "forbidden",
               "a driver library is named by its file name alone (loaded from the install folder) or by an "
               "absolute path without '..': " + library);
    const std::optional<std::string> real = os::RealPath(library);
    if (!real || !Within(*real, libraries_))
        Refuse(403, "forbidden",
               "the server does not load libraries from " + library +
                   ": its real path (links followed) must lie in a folder the operator allowed with "
                   "--allow-library; or name the library alone to load it from the install folder");
    return *real;
}

std::string PathPolicy::DataFile(const std::string& text) const
{
    std::error_code ignored;
    if (!NamesAPath(text) && !std::filesystem::exists(text, ignored))
        return text;
    const std::optional<std::string> real = os::RealPath(text);
    if (!real || !Within(*real, data_))
        Refuse(403, "forbidden",
               "the server does not let a driver open " + text +
                   ": a file a request names must lie (links followed) in a folder the operator allowed with "
                   "--allow-data" + (data_.empty() ? "; this server allows none" : ""));
    return *real;
}

void PathPolicy::CheckFileArguments(const std::string& operation, nlohmann::json& request) const
{
    for (const FileArgument& file : kFileArguments) {
        if (operation != file.operation || !request.is_object() || !request.contains("arguments"))
            continue;
        nlohmann::json& arguments = request["arguments"];
        if (arguments.is_array() && arguments.size() > file.position && arguments[file.position].is_string())
            arguments[file.position] = DataFile(arguments[file.position].get<std::string>());
    }
}

} // namespace zelbridge::tool::serve
