// The driver functions of one library under one prefix, resolved once and
// shared by every system defined on that pair; never changed once made.
#pragma once

#include "api/driver_contract.h"
#include "platform/platform.h"

#include <array>
#include <string>

namespace zelbridge {

class OperationTable {
public:
    // The longest symbol a prefix and an operation name may form together.
    static constexpr std::size_t kSymbolCapacity = 256;

    OperationTable(platform::ModuleHandle module, const char* prefix);
    OperationTable(const OperationTable&) = delete;
    OperationTable& operator=(const OperationTable&) = delete;

    // Null when the library does not export the operation under the prefix.
    template <Operation op> DriverFunction<op> Function() const noexcept
    {
        return reinterpret_cast<DriverFunction<op>>(operations_[static_cast<unsigned>(op)]);
    }
    bool Exports(Operation op) const noexcept { return operations_[static_cast<unsigned>(op)] != nullptr; }
    const std::string& prefix() const noexcept { return prefix_; }

private:
    platform::ProcAddress Resolve(platform::ModuleHandle module, const char* operationName) const noexcept;

    std::array<platform::ProcAddress, kOperationCount> operations_{};
    std::string prefix_;
};

} // namespace zelbridge
