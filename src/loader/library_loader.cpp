// The install path and the loading of driver and graph libraries by name.
#include "loader/library_loader.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace zelbridge {
namespace {

// The install path as last read, published whole: once a reader has it, it
// never changes under the reader. Null until a read succeeds.
std::atomic<const char*> installPath{nullptr};
// Only a read takes the lock; once the path is known every call is lock-free.
std::mutex installPathReadLock;
// Every path published: a reader on another thread may still be composing a
// name from one that a refresh replaced, so none is freed before the module
// is unloaded, and none at exit, where other threads may still be calling.
using PublishedInstallPaths = std::vector<std::unique_ptr<char[]>>;
PublishedInstallPaths* publishedInstallPaths = nullptr;

// A new copy of the stored value, or null when there is none usable.
std::unique_ptr<char[]> QueryInstallPath() noexcept
{
    char value[kInstallPathCapacity] = {};
    std::uint32_t size = sizeof value;
    if (!platform::QueryInstallPathValue(value, size) || size > sizeof value)
        return nullptr;
    // The stored value is taken to end with its terminating zero, which is not
    // copied: a value stored without one loses its last character.
    const std::size_t copied = size > 0 ? strnlen(value, size - 1) : 0;
    std::unique_ptr<char[]> path(new (std::nothrow) char[copied + 1]);
    if (path) {
        std::memcpy(path.get(), value, copied);
        path[copied] = '\0';
    }
    return path;
}

const char* ReadInstallPathLocked(bool refresh) noexcept
{
    if (!refresh)
        if (const char* path = installPath.load(std::memory_order_acquire))
            return path;
    std::unique_ptr<char[]> path = QueryInstallPath();
    if (!path) {
        // Not remembered: the next call asks again.
        installPath.store(nullptr, std::memory_order_release);
        return "";
    }
    const char* published = path.get();
    try {
        if (!publishedInstallPaths)
            publishedInstallPaths = new PublishedInstallPaths;
        publishedInstallPaths->push_back(std::move(path));
    } catch (...) {
        return "";
    }
    installPath.store(published, std::memory_order_release);
    return published;
}

} // namespace

void FreeInstallPaths() noexcept
{
    const std::lock_guard<std::mutex> guard(installPathReadLock);
    installPath.store(nullptr, std::memory_order_relaxed);
    delete publishedInstallPaths;
    publishedInstallPaths = nullptr;
}

bool NamesAPath(const char* name) noexcept
{
    return std::strpbrk(name, ":\\/") != nullptr;
}

const char* ReadInstallPath(bool refresh) noexcept
{
    if (!refresh)
        if (const char* path = installPath.load(std::memory_order_acquire))
            return path;
    const std::lock_guard<std::mutex> guard(installPathReadLock);
    return ReadInstallPathLocked(refresh);
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
