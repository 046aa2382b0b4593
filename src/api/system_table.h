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

namespace zelbridge {

// Defining is serialised by a lock; looking a system up takes none, and a
// system never moves once its index is returned, so calls on defined systems
// may run on any thread while other threads define more.
class SystemTable {
public:
    // Upper-cased library name (as given, path included) to its one loaded module.
    using LibraryCache = std::map<std::string, platform::ModuleHandle>;

    // The one table of the process, created on first use.
    static SystemTable& Instance()
    {
        static SystemTable table;
        return table;
    }

    SystemTable() = default;
    // Frees the storage only: the detach step has already closed the
    // connections, and the drivers may be unloaded by now.
    ~SystemTable() = default;
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
    // library is freed; the indices stay used. Not to be run while other
    // threads call into the table: it is the module's detach step.
    void ReleaseAll() noexcept;

    // For inspection while no thread defines.
    const LibraryCache& libraries() const noexcept { return libraries_; }
    std::size_t size() const noexcept { return systems_.size(); }

private:
    const OperationTable& OperationsOf(platform::ModuleHandle module, const char* prefix);

    StableArray<SystemBinding> systems_;
    std::mutex defineLock_;
    LibraryCache libraries_;
    // Systems on one library and prefix share their resolved operations.
    std::map<std::pair<platform::ModuleHandle, std::string>, std::unique_ptr<OperationTable>> operationTables_;
};

} // namespace zelbridge
