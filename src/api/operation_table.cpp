// Resolving the 28 operations of a driver library under a prefix.
#include "api/operation_table.h"

#include <cstring>

namespace zelbridge {

OperationTable::OperationTable(platform::ModuleHandle module, const char* prefix) : prefix_(prefix)
{
    for (unsigned i = 0; i < kOperationCount; ++i)
        operations_[i] = Resolve(module, kOperationNames[i]);
}

platform::ProcAddress OperationTable::Resolve(platform::ModuleHandle module, const char* operationName) const noexcept
{
    if (!module)
        return nullptr;
    const std::size_t prefixLength = prefix_.size();
    const std::size_t nameLength = std::strlen(operationName);
    // A prefix too long for the symbol buffer leaves the operation unresolved
    // rather than looking up a cut-off name.
    if (prefixLength + nameLength >= kSymbolCapacity)
        return nullptr;
    char symbol[kSymbolCapacity];
    std::memcpy(symbol, prefix_.data(), prefixLength);
    std::memcpy(symbol + prefixLength, operationName, nameLength + 1);
    return platform::FindSymbol(module, symbol);
}

} // namespace zelbridge
