// The process-wide table of defined systems and the cache of the driver
// libraries they were defined on.
#pragma once

#include "api/system_binding.h"
#include "platform/platform.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zelbridge {

class SystemTable {
public:
    // Upper-cased library name (as given, path included) to its one loaded module.
    using LibraryCache = std::map<std::string, platform::ModuleHandle>;

    // The one table of the process, created on first use.
    static SystemTable& Instance();

    SystemTable() = default;
    ~SystemTable();
    SystemTable(const SystemTable&) = delete;
    SystemTable& operator=(const SystemTable&) = delete;

    // The new system's index, or -1 when the library cannot be loaded or an
    // argument is null. Indices are never reused.
    std::int32_t Define(const char* libraryName, const char* prefix);
    // Null for a negative index, one past the end, or a released system.
    SystemBinding* GetSystem(std::int32_t index) const noexcept;
    // Destroys every system (each closes its connection) before any cached
    // library is freed; the indices stay used.
    void ReleaseAll() noexcept;

    const LibraryCache& libraries() const noexcept { return libraries_; }
    std::size_t size() const noexcept { return systems_.size(); }

private:
    std::vector<std::unique_ptr<SystemBinding>> systems_;
    LibraryCache libraries_;
};

} // namespace zelbridge
