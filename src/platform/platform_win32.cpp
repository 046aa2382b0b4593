// Win32 implementation of the platform seam.
#include "platform/platform.h"
#include "platform/platform_native.h"
#include "platform/thread_slots.h"

#include <pthread.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace __gnu_cxx {
// The C++ runtime's release of its own allocations, made for leak checkers.
void __freeres() noexcept;
} // namespace __gnu_cxx

namespace zelbridge::platform {
namespace {

constexpr char kInstallKey[] = "Software\\QX\\Zelbridge";
constexpr char kInstallValue[] = "Path";

// Vendors ship a driver together with the libraries it imports, in one
// folder. A plain load looks for those imports in the application's folder,
// the system folders and PATH, never in the driver's own, and fails with
// error 126 although everything is there; the altered search order looks in
// the driver's folder first. Only an existing file is tried again, so a
// driver that is itself missing costs nothing more.
HMODULE LoadWithItsFolderSearched(const char* fileName) noexcept
{
    if (!RetriesWithOwnFolder(fileName))
        return nullptr;
    const DWORD attributes = ::GetFileAttributesA(fileName);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return nullptr;
    return ::LoadLibraryExA(fileName, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

// The altered search order of LoadLibraryExA is defined for full names only.
bool RetriesWithOwnFolder(const char* fileName) noexcept
{
    const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    const bool drive = ((fileName[0] >= 'A' && fileName[0] <= 'Z') || (fileName[0] >= 'a' && fileName[0] <= 'z')) &&
                       fileName[1] == ':' && isSeparator(fileName[2]);
    return drive || (isSeparator(fileName[0]) && isSeparator(fileName[1]));
}

ModuleHandle OpenModule(const char* fileName) noexcept
{
    if (HMODULE module = ::LoadLibraryA(fileName))
        return module;
    // Taken at once: the second attempt overwrites it, and when that fails
    // too the caller must see why the first one did.
    const DWORD failure = ::GetLastError();
    HMODULE module = failure == ERROR_MOD_NOT_FOUND ? LoadWithItsFolderSearched(fileName) : nullptr;
    if (!module)
        ::SetLastError(failure);
    return module;
}

ProcAddress FindSymbol(ModuleHandle module, const char* name) noexcept
{
    return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(ModuleHandle module) noexcept
{
    ::FreeLibrary(static_cast<HMODULE>(module));
}

bool ModuleFileOf(const void* address, char* buffer, std::size_t capacity) noexcept
{
    HMODULE module = nullptr;
    if (capacity == 0 ||
        !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module))
        return false;
    const DWORD length = ::GetModuleFileNameA(module, buffer, static_cast<DWORD>(capacity));
    // A name cut short is no name at all.
    return length != 0 && length < capacity;
}

std::uint32_t LastError() noexcept
{
    return ::GetLastError();
}

void SetLastError(std::uint32_t code) noexcept
{
    ::SetLastError(code);
}

void DescribeError(std::uint32_t code, char* text, std::size_t capacity) noexcept
{
    if (capacity == 0)
        return;
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, text, static_cast<DWORD>(capacity), nullptr);
    if (length == 0) {
        std::snprintf(text, capacity, "error %lu", static_cast<unsigned long>(code));
        return;
    }
    // System messages end in "\r\n", which reads badly inside one line.
    for (DWORD end = length; end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n'); --end)
        text[end - 1] = '\0';
}

const char* Setting(const char* name) noexcept
{
    return std::getenv(name);
}

FileHandle OpenForAppending(const char* path, char* reason, std::size_t capacity) noexcept
{
    // Append access without write access makes every write land at the
    // file's end; read access lets AppendToFile lock it and see how it ends.
    const HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DescribeError(::GetLastError(), reason, capacity);
        return kNoFile;
    }
    return reinterpret_cast<FileHandle>(file);
}

namespace {

bool WriteWhole(HANDLE handle, const char* data, std::size_t length) noexcept
{
    while (length > 0) {
        DWORD written = 0;
        const DWORD part = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        if (!::WriteFile(handle, data, part, &written, nullptr) || written == 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

bool EndsWithLineEnd(HANDLE handle) noexcept
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle, &size) || size.QuadPart == 0)
        return true;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD read = 0;
    return !::ReadFile(handle, &last, 1, &read, &at) || read != 1 || last == '\n';
}

} // namespace

bool AppendToFile(FileHandle file, const char* data, std::size_t length, bool onFreshLine) noexcept
{
    // Not every implementation makes an append one step with respect to
    // other handles (Wine seeks to the end, then writes), so the writers of
    // all processes also take turns on a lock of one byte far past any end.
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFEu;
    turn.OffsetHigh = 0x7FFFFFFFu;
    const bool locked = ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
    const bool whole = (!onFreshLine || EndsWithLineEnd(handle) || WriteWhole(handle, "\n", 1)) && WriteWhole(handle, data, length);
    if (locked)
        ::UnlockFileEx(handle, 0, 1, 0, &turn);
    return whole;
}

void CloseFile(FileHandle file) noexcept
{
    if (file != kNoFile)
        ::CloseHandle(reinterpret_cast<HANDLE>(file));
}

std::uint32_t ProcessId() noexcept
{
    return ::GetCurrentProcessId();
}

void OnFork(void (*)(), void (*)(), void (*)()) noexcept {}

namespace native {

bool CreateThreadSlot(std::uintptr_t& slot, void (*)(void*)) noexcept
{
    const DWORD index = ::TlsAlloc();
    slot = index;
    return index != TLS_OUT_OF_INDEXES;
}

void DeleteThreadSlot(std::uintptr_t slot) noexcept
{
    ::TlsFree(static_cast<DWORD>(slot));
}

void* ThreadSlotValue(std::uintptr_t slot) noexcept
{
    // TlsGetValue clears the last error on success, and a caller may be
    // about to read a failed load's.
    const DWORD error = ::GetLastError();
    void* value = ::TlsGetValue(static_cast<DWORD>(slot));
    ::SetLastError(error);
    return value;
}

bool SetThreadSlotValue(std::uintptr_t slot, void* value) noexcept
{
    return ::TlsSetValue(static_cast<DWORD>(slot), value) != 0;
}

bool QueryInstallPathValue(char* buffer, std::uint32_t& size) noexcept
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD dataSize = size;
    const LONG status = ::RegQueryValueExA(key, kInstallValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &dataSize);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    size = dataSize;
    return true;
}

std::uint32_t TickCount() noexcept
{
    return ::GetTickCount();
}

void DebugOutput(const char* text) noexcept
{
    ::OutputDebugStringA(text);
}

} // namespace native
} // namespace zelbridge::platform

// winpthreads' own lookup of a thread's record from its identifier.
extern "C" void* __pth_gpointer_locked(pthread_t thread);

namespace {

// MinGW's thread library, linked into each module, takes a slot of its own
// the first time it runs, and never gives it back. It runs during every
// 32-bit load (registering the module's exception-unwinding tables takes a
// lock through it), and wherever the C++ runtime initialises something once
// (its locale, for a file stream). So the module makes it take its slot at
// load, always, and frees it at unload, once the library's own callback has
// freed its records. The slot is the one that holds the calling thread's
// record of the library's, so it is found by that value.
void TakeRuntimeThreadSlot() noexcept
{
    pthread_self();
}

void FreeRuntimeThreadSlot() noexcept
{
    void* const record = __pth_gpointer_locked(pthread_self());
    if (!record)
        return;
    constexpr DWORD kProcessSlots = TLS_MINIMUM_AVAILABLE + 1024;
    for (DWORD slot = 0; slot < kProcessSlots; ++slot) {
        if (::TlsGetValue(slot) == record) {
            ::TlsFree(slot);
            return;
        }
    }
}

// Called by the loader for each thread that ends and for the module's unload:
// after the C runtime's and the thread library's own callbacks (the loader
// runs them in the order of their sections' names), before DllMain. Nothing
// the detach step does next needs the thread library's slot: its locks are
// uncontended by then, and an uncontended lock does not look at the slot.
void NTAPI ThreadStorageCallback(PVOID, DWORD reason, PVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        TakeRuntimeThreadSlot();
    } else if (reason == DLL_THREAD_DETACH) {
        zelbridge::platform::EndThread();
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // A process that ends takes everything with it; an unload gives
        // back what the runtime linked into the module took at load: its
        // thread slot, and the C++ runtime's reserve for throwing exceptions
        // when memory runs out (19 KB at each 32-bit load, 73 KB at a 64-bit one), which only this
        // call frees.
        FreeRuntimeThreadSlot();
        __gnu_cxx::__freeres();
    }
}

} // namespace

// The loader finds the callback in the sections after the runtime's own.
extern "C" const IMAGE_TLS_DIRECTORY _tls_used;
extern "C" {
__attribute__((used)) const void* const zelbridgeTlsDirectory = &_tls_used;
__attribute__((section(".CRT$XLY"), used)) const PIMAGE_TLS_CALLBACK zelbridgeThreadStorageCallback = ThreadStorageCallback;
}
