// The install path and the loading of driver and graph libraries by name.
#include "loader/library_loader.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace zelbridge {
namespace {

char installPath[kInstallPathCapacity];
std::atomic<bool> installPathRead{false};
// Only a read takes the lock; once the path is known every call is lock-free.
std::mutex installPathReadLock;

void ReadInstallPathLocked() noexcept
{
    std::memset(installPath, 0, sizeof installPath);
    char value[kInstallPathCapacity] = {};
    std::uint32_t size = sizeof value;
    if (!platform::QueryInstallPathValue(value, size))
        return;
    // The stored value is taken to end with its terminating zero, which is not
    // copied: a value stored without one loses its last character.
    const std::size_t copied = size > 0 ? strnlen(value, size - 1) : 0;
    std::memcpy(installPath, value, copied);
    installPathRead.store(true, std::memory_order_release);
}

bool NamesAPath(const char* name) noexcept
{
    return std::strpbrk(name, ":\\/") != nullptr;
}

} // namespace

const char* ReadInstallPath(bool refresh) noexcept
{
    if (!refresh && installPathRead.load(std::memory_order_acquire))
        return installPath;
    const std::lock_guard<std::mutex> guard(installPathReadLock);
    if (refresh || !installPathRead.load(std::memory_order_relaxed))
        ReadInstallPathLocked();
    return installPath;
}

const char* ControllerLibraryFileName(const char* name, char (&buffer)[kComposedNameCapacity]) noexcept
{
    if (NamesAPath(name))
        return name;
    const char* path = ReadInstallPath();
    if (path[0] == '\0')
        return name;
    const int length = std::snprintf(buffer, sizeof buffer, "%s%c%s", path, platform::kPathSeparator, name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer)
        return nullptr;
    return buffer;
}

platform::ModuleHandle LoadControllerLibrary(const char* name) noexcept
{
    char buffer[kComposedNameCapacity];
    const char* fileName = ControllerLibraryFileName(name, buffer);
    if (!fileName) {
        // A cut-off name could load a different library; refuse it instead.
        platform::SetLastError(platform::kErrorNameTooLong);
        return nullptr;
    }
    return platform::OpenModule(fileName);
}

std::unique_ptr<char[]> ComposeLibraryPath(const char* fileName) noexcept
{
    const char* path = ReadInstallPath();
    const std::size_t pathLength = std::strlen(path);
    const std::size_t capacity = pathLength + std::strlen(fileName) + 5;
    std::unique_ptr<char[]> composed(new (std::nothrow) char[capacity]);
    if (!composed)
        return composed;
    if (pathLength == 0)
        std::snprintf(composed.get(), capacity, "%s", fileName);
    else
        std::snprintf(composed.get(), capacity, "%s%c%s", path, platform::kPathSeparator, fileName);
    return composed;
}

} // namespace zelbridge
