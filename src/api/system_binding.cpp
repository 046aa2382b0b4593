// A defined system's release; its forwarding is in the header, one template for every operation.
#include "api/system_binding.h"

#include <new>

namespace zelbridge {
alignas(OperationTable) unsigned char SystemBinding::releasedOperationsStorage_[sizeof(OperationTable)];

const OperationTable* const SystemBinding::releasedOperations_ =
    new (releasedOperationsStorage_) OperationTable(nullptr, "");

void SystemBinding::Release() noexcept
{
    const OperationTable* operations = operations_.load(std::memory_order_acquire);
    if (!operations || operations == releasedOperations_)
        return;
    operations = operations_.exchange(releasedOperations_, std::memory_order_acq_rel);
    if (operations == releasedOperations_)
        return;
    if (const auto close = operations->Function<Operation::CloseConnection>())
        close(connectionId_.exchange(-1, std::memory_order_relaxed));
}

} // namespace zelbridge
