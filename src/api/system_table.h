// The process-wide table of defined systems and the cache of the driver
// libraries they were defined on.
#pragma once

#include "api/operation_table.h"
#include "api/stable_array.h"
#include "api/system_binding.h"
#include "platform/platform.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zelbridge {

// Defining is serialised by a lock; looking a system up takes none, and a
// system never moves once its index is returned, so calls on defined systems
// may run on any thread while other threads define more.
class SystemTable {
public:
    // Upper-cased library name (as given, path included) to its one loaded module.
    using LibraryCache = std::map<std::string, platform::ModuleHandle>;

    // The one table of the process, created on first use. The C runtime
    // never destroys it: at exit, other threads may still be calling and
    // holding systems. FreeInstance() frees it when the module is unloaded.
    static SystemTable& Instance()
    {
        // Once made, a call finds it with one read, without the guard of a
        // function's static.
        if (SystemTable* table = made_.load(std::memory_order_acquire))
            return *table;
        return Make();
    }
    // The system at `index` in the process's table, without making the
    // table: before the first definition there is none.
    static SystemBinding* SystemAt(std::int32_t index) noexcept
    {
        const SystemTable* table = made_.load(std::memory_order_acquire);
        return table ? table->GetSystem(index) : nullptr;
    }
    // Only when the module is unloaded, after the detach step; nothing may
    // use the table after it.
    static void FreeInstance() noexcept { delete &Instance(); }

    SystemTable() = default;
    SystemTable(const SystemTable&) = delete;
    SystemTable& operator=(const SystemTable&) = delete;

    // The new system's index, or -1 when the library cannot be loaded or an
    // argument is null. Indices are never reused.
    std::int32_t Define(const char* libraryName, const char* prefix);
    // Null for a negative index, one past the end, or a released system.
    SystemBinding* GetSystem(std::int32_t index) const noexcept
    {
        SystemBinding* system = systems_.Find(static_cast<std::uint32_t>(index));
        return system && system->bound() ? system : nullptr;
    }
    // Releases every system (each closes its connection) before any cached
    // library is freed; the indices stay used. The systems and their
    // operation tables stay until the table is destroyed, so that a call
    // still running on another thread finds a released system, never freed
    // memory. It is the module's detach step.
    void ReleaseAll() noexcept;

    // For inspection while no thread defines.
    const LibraryCache& libraries() const noexcept { return libraries_; }
    std::size_t size() const noexcept { return systems_.size(); }

private:
    [[gnu::noinline]] static SystemTable& Make()
    {
        static SystemTable* const table = new SystemTable;
        made_.store(table, std::memory_order_release);
        return *table;
    }
    static inline std::atomic<SystemTable*> made_{nullptr};

    const OperationTable& OperationsOf(platform::ModuleHandle module, const char* prefix);

    StableArray<SystemBinding> systems_;
    std::mutex defineLock_;
    LibraryCache libraries_;
    // Systems on one library and prefix share their resolved operations. The
    // lookup is emptied with the library cache (a library loaded again may
    // lie elsewhere); the tables themselves live as long as this table.
    std::map<std::pair<platform::ModuleHandle, std::string>, const OperationTable*> operationTables_;
    std::vector<std::unique_ptr<OperationTable>> ownedOperationTables_;
};

} // namespace zelbridge
