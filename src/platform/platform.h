// The seam between the core and the operating system: dynamic loading, the
// install-path setting, the tick count, debug output and the last-error value.
// One implementation per platform is chosen by the build; no OS header leaks out.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace zelbridge::platform {

using ModuleHandle = void*;
// A generic code pointer; callers cast it to the driver function's real type.
using ProcAddress = void (*)();

// Loads a library by file name; null on failure, with the reason left in
// LastError() for the caller to read before anything else can overwrite it.
// On Windows a library named by a full path that fails for want of a library
// it imports (error 126 while the file exists) is loaded again with its own
// folder searched for its imports; when that fails too, the last error is
// the first attempt's. Off Windows a library names the folders of its own
// dependencies with its run path ($ORIGIN), so nothing is tried again.
ModuleHandle OpenModule(const char* fileName) noexcept;
// Whether OpenModule would try `fileName` again with its own folder searched:
// a full name ("C:\...", "\\server\...") on Windows, never elsewhere.
bool RetriesWithOwnFolder(const char* fileName) noexcept;
ProcAddress FindSymbol(ModuleHandle module, const char* name) noexcept;
void CloseModule(ModuleHandle module) noexcept;

// The file name of the loaded module that holds `address`, in `buffer`; false
// when there is none or the name does not fit.
bool ModuleFileOf(const void* address, char* buffer, std::size_t capacity) noexcept;

std::uint32_t LastError() noexcept;
// Records a failure the core detects itself, such as a file name too long to load.
void SetLastError(std::uint32_t code) noexcept;
// Human-readable text for an error code from LastError(); always terminated.
void DescribeError(std::uint32_t code, char* text, std::size_t capacity) noexcept;

// The raw bytes of the install-path value ("Path" under
// HKEY_LOCAL_MACHINE\Software\QX\Zelbridge on Windows, the environment
// variable ZELBRIDGE_PATH elsewhere). On entry `size` is the capacity of
// `buffer`; on success it is the number of bytes stored. Returns false when
// the key or value is missing or does not fit.
bool QueryInstallPathValue(char* buffer, std::uint32_t& size) noexcept;

// The value of an environment setting, or null. Off Windows a program running
// with privileges its invoker lacks (setuid, file capabilities) sees none, so
// that the invoker cannot choose what such a program loads or writes.
const char* Setting(const char* name) noexcept;

// A file that whole records are appended to by several threads and
// processes. Each AppendToFile holds a lock of the file that every process
// appending through it takes (fcntl on POSIX, LockFileEx on Windows), so no
// other writer's bytes land inside one record, and a write the system cuts
// short is finished under the same lock. With `onFreshLine`, a file that does
// not end with a line end (its last writer died in the middle of a record)
// gets one first, so that the record starts on a line of its own.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;
// Opens `path` for appending, creating it; kNoFile when it cannot be opened,
// with the system's reason in `reason` (always terminated).
FileHandle OpenForAppending(const char* path, char* reason, std::size_t capacity) noexcept;
bool AppendToFile(FileHandle file, const char* data, std::size_t length, bool onFreshLine) noexcept;
void CloseFile(FileHandle file) noexcept;

// Runs `prepare` in the thread that forks, before the fork, then `parent` in
// the parent and `child` in the new process, where only that thread runs:
// what the module keeps per process (its identifier, its locks) is made the
// child's own. Windows has no fork: nothing is registered there.
void OnFork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

std::uint32_t ProcessId() noexcept;

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t TickCount() noexcept;

// Sends one text to the debugger output (standard error off Windows).
void DebugOutput(const char* text) noexcept;

// One pointer of storage per thread, for the module's own per-thread state.
// Its slot is taken from the operating system on the first Set() (TlsAlloc,
// pthread_key_create) and given back by FreeThreadSlots() when the module
// is unloaded. A thread_local variable would not do: MinGW makes it emulated
// storage whose slot no unload gives back, and a process has 1,088 of them.
class ThreadSlot {
public:
    // Runs on a thread that ends holding a value, with that value.
    using ThreadEnd = void (*)(void* value);

    constexpr ThreadSlot() noexcept = default;
    constexpr explicit ThreadSlot(ThreadEnd threadEnd) noexcept : threadEnd_(threadEnd) {}
    ThreadSlot(const ThreadSlot&) = delete;
    ThreadSlot& operator=(const ThreadSlot&) = delete;

    // The calling thread's value; null until it sets one. Takes no slot.
    void* Get() const noexcept;
    // False, and nothing kept, when the process has no slot left.
    bool Set(void* value) noexcept;

    ThreadEnd threadEnd() const noexcept { return threadEnd_; }

private:
    // The operating system's slot plus one; 0 while none is taken.
    std::uintptr_t TakeSlot() noexcept;

    ThreadEnd threadEnd_ = nullptr;
    std::atomic<std::uintptr_t> slot_{0};

    friend void FreeThreadSlots() noexcept;
};

// Gives every ThreadSlot's operating-system slot back; each thread's values
// are forgotten (their owners free what they point to first). For the
// module's unload, when no thread calls in any more.
void FreeThreadSlots() noexcept;

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
// Windows file names ignore case, so an upper-cased name loads the same file.
inline constexpr bool kFileNamesIgnoreCase = true;
inline constexpr std::uint32_t kErrorNameTooLong = 206; // ERROR_FILENAME_EXCED_RANGE
#else
inline constexpr char kPathSeparator = '/';
inline constexpr bool kFileNamesIgnoreCase = false;
inline constexpr std::uint32_t kErrorNameTooLong = 36; // ENAMETOOLONG
#endif

// Test seams: replace the tick source or the debug-output sink; null restores
// the real one.
using TickSource = std::uint32_t (*)();
using DebugSink = void (*)(const char* text);
using InstallPathSource = bool (*)(char* buffer, std::uint32_t& size);
void SetTickSource(TickSource source) noexcept;
void SetDebugSink(DebugSink sink) noexcept;
// Replaces where QueryInstallPathValue reads from, with the same contract.
void SetInstallPathSource(InstallPathSource source) noexcept;

} // namespace zelbridge::platform
