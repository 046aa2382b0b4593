// Which files a client may make the server load: a driver library named
// by its file name alone, or by a path the operator allowed.
#include "path_policy.h"

#include "api_error.h"

#include <algorithm>

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

} // namespace

// A bare name loads from the install folder, as DefineSystem looks it up; a
// name with a path only from a place the operator allowed.
void CheckLibraryAllowed(const std::string& library, const std::vector<std::string>& allowed)
{
    if (!NamesAPath(library))
        return;
    if (!IsAbsolute(library) || HasParentStep(library))
        Refuse(403, "forbidden",
               "a driver library is named by its file name alone (loaded from the install folder) or by an "
               "absolute path without '..': " + library);
    for (const std::string& place : allowed) {
        if (SameText(library, place))
            return;
        const std::string::size_type length = place.size();
        const bool endsWithSeparator = length > 0 && (place.back() == '/' || place.back() == '\\');
        const std::string folder = endsWithSeparator ? place : place + '/';
        if (library.size() > folder.size() && SameText(library.substr(0, folder.size() - 1), folder.substr(0, folder.size() - 1)) &&
            (library[folder.size() - 1] == '/' || library[folder.size() - 1] == '\\'))
            return;
    }
    Refuse(403, "forbidden",
           "the server does not load libraries from " + library +
               ": name the library alone to load it from the install folder, or ask the server's operator to "
               "allow its folder with --allow-library");
}

} // namespace zelbridge::tool::serve
