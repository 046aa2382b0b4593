// Defining systems, looking them up by index, and tearing them down in order.
#include "api/system_table.h"

#include "api/ascii_case.h"
#include "loader/first_use_gate.h"
#include "loader/library_loader.h"

namespace zelbridge {

std::int32_t SystemTable::Define(const char* libraryName, const char* prefix)
{
    // A library's initialiser calling back while this thread loads it (and
    // may hold the lock) defines nothing.
    if (!libraryName || !prefix || LibraryLoadScope::active())
        return -1;
    const std::lock_guard<std::mutex> guard(defineLock_);
    std::string key = AsciiUpperCase(libraryName);
    auto cached = libraries_.find(key);
    if (cached == libraries_.end()) {
        // Off Windows the file system tells case apart, so load the name as spelled.
        const char* fileName = platform::kFileNamesIgnoreCase ? key.c_str() : libraryName;
        const platform::ModuleHandle module = [fileName] {
            const LibraryLoadScope loading;
            return LoadControllerLibrary(fileName);
        }();
        if (!module)
            return -1;
        try {
            cached = libraries_.emplace(std::move(key), module).first;
        } catch (...) {
            platform::CloseModule(module);
            throw;
        }
    }
    const OperationTable& operations = OperationsOf(cached->second, prefix);
    SystemBinding* system = systems_.PrepareNext();
    if (!system)
        return -1;
    system->Bind(operations);
    return static_cast<std::int32_t>(systems_.Publish());
}

const OperationTable& SystemTable::OperationsOf(platform::ModuleHandle module, const char* prefix)
{
    auto key = std::make_pair(module, std::string(prefix));
    auto found = operationTables_.find(key);
    if (found == operationTables_.end()) {
        ownedOperationTables_.push_back(std::make_unique<OperationTable>(module, prefix));
        found = operationTables_.emplace(std::move(key), ownedOperationTables_.back().get()).first;
    }
    return *found->second;
}

void SystemTable::ReleaseAll() noexcept
{
    // At process exit Windows ends every other thread before the detach
    // step, possibly one in the middle of a define and holding the lock; that
    // lock is never given back. Waiting would hang the exit, so the release is
    // left to the end of the process instead. (On a detach from FreeLibrary no
    // define may be running: unloading a module other threads still call is
    // the application's fault, as with any library.)
    const std::unique_lock<std::mutex> guard(defineLock_, std::try_to_lock);
    if (!guard.owns_lock())
        return;
    systems_.ForEach([](SystemBinding& system) { system.Release(); });
    operationTables_.clear();
    for (const auto& [name, module] : libraries_)
        platform::CloseModule(module);
    libraries_.clear();
}

} // namespace zelbridge
