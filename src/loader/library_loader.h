// Where driver libraries live: the install path from the registry, and the two
// ways a library name becomes the file name that is loaded.
#pragma once

#include "platform/platform.h"

#include <memory>

namespace zelbridge {

// Room for the install path and its terminating zero.
inline constexpr std::size_t kInstallPathCapacity = 260;
// Room for a composed file name and its terminating zero.
inline constexpr std::size_t kComposedNameCapacity = 1024;

// The install path, read once and kept for the life of the module. Never null;
// empty when no path is known. A failed read is not remembered, so the next
// call asks again; `refresh` forces a new read even after a successful one.
const char* ReadInstallPath(bool refresh = false) noexcept;

// Frees every install path read: when the module is unloaded from a process
// that runs on. A process that ends keeps them for the threads still calling.
void FreeInstallPaths() noexcept;

// Whether `name` holds a colon, backslash or slash, and so is loaded as it
// stands rather than from the install folder.
bool NamesAPath(const char* name) noexcept;

// The file name LoadControllerLibrary opens for `name`: `name` itself when it
// holds a colon, backslash or slash or no install path is known, else the
// install path, a separator and `name` composed in `buffer`. Null when that
// does not fit.
const char* ControllerLibraryFileName(const char* name, char (&buffer)[kComposedNameCapacity]) noexcept;

// Loads `name` as given when it holds a colon, backslash or slash, else from
// the install folder (or by the platform's search order without one). Null on
// failure, with the platform's last-error value left as the load set it.
platform::ModuleHandle LoadControllerLibrary(const char* name) noexcept;

// The file name of a family library in the install folder, or the bare name
// when no install path is known. Null only when memory runs out.
std::unique_ptr<char[]> ComposeLibraryPath(const char* fileName) noexcept;

} // namespace zelbridge
