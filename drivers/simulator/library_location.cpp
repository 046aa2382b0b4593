// The folder the simulator library was loaded from, asked of the platform with
// the address of a function of its own.
#include "library_location.h"

#include "platform/platform.h"

namespace simulator {

std::string LibraryFolder()
{
    char file[4096];
    if (!zelbridge::platform::ModuleFileOf(reinterpret_cast<const void*>(&LibraryFolder), file, sizeof file))
        return std::string();
    const std::string path = file;
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

} // namespace simulator
