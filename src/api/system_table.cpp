// Defining systems, looking them up by index, and tearing them down in order.
#include "api/system_table.h"

#include "api/ascii_case.h"
#include "loader/library_loader.h"

namespace zelbridge {

SystemTable& SystemTable::Instance()
{
    static SystemTable table;
    return table;
}

SystemTable::~SystemTable()
{
    // At process exit only the storage goes: the detach step has already
    // closed the connections, and the drivers may be unloaded by now.
    for (auto& system : systems_)
        static_cast<void>(system.release());
}

std::int32_t SystemTable::Define(const char* libraryName, const char* prefix)
{
    if (!libraryName || !prefix)
        return -1;
    std::string key = AsciiUpperCase(libraryName);
    auto cached = libraries_.find(key);
    if (cached == libraries_.end()) {
        // Off Windows the file system tells case apart, so load the name as spelled.
        const char* fileName = platform::kFileNamesIgnoreCase ? key.c_str() : libraryName;
        platform::ModuleHandle module = LoadControllerLibrary(fileName);
        if (!module)
            return -1;
        try {
            cached = libraries_.emplace(std::move(key), module).first;
        } catch (...) {
            platform::CloseModule(module);
            throw;
        }
    }
    systems_.reserve(systems_.size() + 1);
    systems_.push_back(std::make_unique<SystemBinding>(cached->second, prefix));
    return static_cast<std::int32_t>(systems_.size() - 1);
}

SystemBinding* SystemTable::GetSystem(std::int32_t index) const noexcept
{
    if (index < 0 || static_cast<std::size_t>(index) >= systems_.size())
        return nullptr;
    return systems_[static_cast<std::size_t>(index)].get();
}

void SystemTable::ReleaseAll() noexcept
{
    for (auto& entry : systems_) {
        // Empty the entry first, so that the index names no system while its
        // driver closes the connection.
        std::unique_ptr<SystemBinding> system = std::move(entry);
        system.reset();
    }
    for (const auto& [name, module] : libraries_)
        platform::CloseModule(module);
    libraries_.clear();
}

} // namespace zelbridge
