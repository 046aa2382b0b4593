// The library's own file name, taken from the module handle DllMain is given.
#include "library_location.h"

#include <windows.h>

namespace {

// Filled once, at attach, before any driver function can run.
char libraryFile[MAX_PATH * 4];

} // namespace

namespace simulator {

std::string LibraryFolder()
{
    const std::string file = libraryFile;
    const std::size_t separator = file.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : file.substr(0, separator + 1);
}

} // namespace simulator

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        const DWORD length = GetModuleFileNameA(module, libraryFile, sizeof libraryFile);
        // A name cut short is no name at all.
        if (length == 0 || length >= sizeof libraryFile)
            libraryFile[0] = '\0';
    }
    return TRUE;
}
