// POSIX implementation of the platform seam: dlopen for LoadLibraryA, the
// environment variable ZELBRIDGE_PATH for the registry value, the monotonic
// clock for GetTickCount and standard error for the debugger output.
#include "platform/platform.h"
#include "platform/platform_native.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace zelbridge::platform {
namespace {

constexpr char kInstallVariable[] = "ZELBRIDGE_PATH";

// dlopen reports its failures as text, not as a code; keep a code per thread
// the way GetLastError does, set only by a failed load.
thread_local std::uint32_t lastError = 0;
thread_local char lastLoadFailure[512];

} // namespace

// A library names the folders of its dependencies with its run path instead.
bool RetriesWithOwnFolder(const char*) noexcept
{
    return false;
}

ModuleHandle OpenModule(const char* fileName) noexcept
{
    // dlopen takes no name, or an empty one, for the program itself;
    // LoadLibraryA loads nothing for them, and neither does the module.
    if (!fileName || *fileName == '\0') {
        SetLastError(ENOENT);
        std::snprintf(lastLoadFailure, sizeof lastLoadFailure, "no library name");
        return nullptr;
    }
    errno = 0;
    ModuleHandle module = ::dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const int cause = errno;
        const char* reason = ::dlerror();
        std::snprintf(lastLoadFailure, sizeof lastLoadFailure, "%s", reason ? reason : "cannot load library");
        lastError = cause != 0 ? static_cast<std::uint32_t>(cause) : ENOENT;
    }
    return module;
}

ProcAddress FindSymbol(ModuleHandle module, const char* name) noexcept
{
    void* symbol = ::dlsym(module, name);
    ProcAddress address;
    static_assert(sizeof address == sizeof symbol);
    std::memcpy(&address, &symbol, sizeof address);
    return address;
}

void CloseModule(ModuleHandle module) noexcept
{
    ::dlclose(module);
}

bool ModuleFileOf(const void* address, char* buffer, std::size_t capacity) noexcept
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname)
        return false;
    const int length = std::snprintf(buffer, capacity, "%s", info.dli_fname);
    return length >= 0 && static_cast<std::size_t>(length) < capacity;
}

std::uint32_t LastError() noexcept
{
    return lastError;
}

void SetLastError(std::uint32_t code) noexcept
{
    lastError = code;
    lastLoadFailure[0] = '\0';
}

void DescribeError(std::uint32_t code, char* text, std::size_t capacity) noexcept
{
    if (capacity == 0)
        return;
    if (code == lastError && lastLoadFailure[0] != '\0')
        std::snprintf(text, capacity, "%s", lastLoadFailure);
    else
        std::snprintf(text, capacity, "%s", std::strerror(static_cast<int>(code)));
}

const char* Setting(const char* name) noexcept
{
    return ::secure_getenv(name);
}

FileHandle OpenForAppending(const char* path, char* reason, std::size_t capacity) noexcept
{
    // Read access to see how the file ends, write access for its lock.
    const int file = ::open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (file < 0 && capacity > 0)
        std::snprintf(reason, capacity, "%s", std::strerror(errno));
    return file < 0 ? kNoFile : file;
}

namespace {

bool WriteWhole(int file, const char* data, std::size_t length) noexcept
{
    while (length > 0) {
        const ssize_t written = ::write(file, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool LockWhole(int file, short type) noexcept
{
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    while (::fcntl(file, F_SETLKW, &whole) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

bool EndsWithLineEnd(int file) noexcept
{
    struct stat status {};
    if (::fstat(file, &status) != 0 || status.st_size == 0)
        return true;
    char last = '\n';
    return ::pread(file, &last, 1, status.st_size - 1) != 1 || last == '\n';
}

} // namespace

bool AppendToFile(FileHandle file, const char* data, std::size_t length, bool onFreshLine) noexcept
{
    const int handle = static_cast<int>(file);
    // A file system without locks (some network ones) still gets the record
    // in as few writes as the system allows.
    const bool locked = LockWhole(handle, F_WRLCK);
    const bool whole = (!onFreshLine || EndsWithLineEnd(handle) || WriteWhole(handle, "\n", 1)) && WriteWhole(handle, data, length);
    if (locked)
        LockWhole(handle, F_UNLCK);
    return whole;
}

void CloseFile(FileHandle file) noexcept
{
    if (file != kNoFile)
        ::close(static_cast<int>(file));
}

std::uint32_t ProcessId() noexcept
{
    return static_cast<std::uint32_t>(::getpid());
}

// The C library forgets the handlers of a library that is unloaded.
void OnFork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept
{
    ::pthread_atfork(prepare, parent, child);
}

namespace native {

bool CreateThreadSlot(std::uintptr_t& slot, void (*threadEnd)(void*)) noexcept
{
    pthread_key_t key{};
    if (::pthread_key_create(&key, threadEnd) != 0)
        return false;
    slot = key;
    return true;
}

void DeleteThreadSlot(std::uintptr_t slot) noexcept
{
    ::pthread_key_delete(static_cast<pthread_key_t>(slot));
}

void* ThreadSlotValue(std::uintptr_t slot) noexcept
{
    return ::pthread_getspecific(static_cast<pthread_key_t>(slot));
}

bool SetThreadSlotValue(std::uintptr_t slot, void* value) noexcept
{
    return ::pthread_setspecific(static_cast<pthread_key_t>(slot), value) == 0;
}

bool QueryInstallPathValue(char* buffer, std::uint32_t& size) noexcept
{
    const char* value = Setting(kInstallVariable);
    if (!value)
        return false;
    const std::size_t bytes = std::strlen(value) + 1;
    if (bytes > size)
        return false;
    std::memcpy(buffer, value, bytes);
    size = static_cast<std::uint32_t>(bytes);
    return true;
}

std::uint32_t TickCount() noexcept
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const auto milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(milliseconds);
}

void DebugOutput(const char* text) noexcept
{
    std::fputs(text, stderr);
}

} // namespace native
} // namespace zelbridge::platform
