// Forwarding of the 28 generic operations of one defined system to its driver.
#include "api/system_binding.h"

#include <new>

namespace zelbridge {
namespace {

alignas(OperationTable) unsigned char releasedOperationsStorage[sizeof(OperationTable)];

} // namespace

const OperationTable* const SystemBinding::releasedOperations_ =
    new (releasedOperationsStorage) OperationTable(nullptr, "");

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

template <Operation op, typename... Args> std::int32_t SystemBinding::Connecting(Args... args) noexcept
{
    const auto function = operations().Function<op>();
    if (!function) {
        SetPendingError();
        return -1;
    }
    const ConnectionId connection = function(args...);
    // A connection this replaces stays open, as after two connects in a row.
    connectionId_.store(connection, std::memory_order_relaxed);
    return connection;
}

template <Operation op, typename... Args> std::int32_t SystemBinding::Unbound(std::int32_t missing, Args... args) noexcept
{
    const auto function = operations().Function<op>();
    if (!function) {
        SetPendingError();
        return missing;
    }
    return function(args...);
}

template <Operation op, typename... Args> std::int32_t SystemBinding::OnConnection(std::int32_t missing, Args... args) noexcept
{
    const auto function = operations().Function<op>();
    if (!function) {
        SetPendingError();
        return missing;
    }
    return function(connectionId(), args...);
}

std::int32_t SystemBinding::InterfaceSetupDlg(Word a1) noexcept { return Connecting<Operation::InterfaceSetupDlg>(a1); }
std::int32_t SystemBinding::ConnectRS232(Word a1, Word a2) noexcept { return Connecting<Operation::ConnectRS232>(a1, a2); }
std::int32_t SystemBinding::ConnectNIgpib(Word a1, Word a2) noexcept { return Connecting<Operation::ConnectNIgpib>(a1, a2); }
std::int32_t SystemBinding::ConnectPciBoard(Word a1) noexcept { return Connecting<Operation::ConnectPciBoard>(a1); }
std::int32_t SystemBinding::Connect(Word a1) noexcept { return Connecting<Operation::Connect>(a1); }
std::int32_t SystemBinding::ConnectTCPIP(Word a1, Word a2) noexcept { return Connecting<Operation::ConnectTCPIP>(a1, a2); }
std::int32_t SystemBinding::ConnectDaisyChainDevice(Word a1, Word a2) noexcept
{
    return Connecting<Operation::ConnectDaisyChainDevice>(a1, a2);
}
std::int32_t SystemBinding::ConnectUSB(Word a1) noexcept { return Connecting<Operation::ConnectUSB>(a1); }

std::int32_t SystemBinding::ListUSB(Word a1, Word a2) noexcept
{
    // Drivers that only enumerate answer a listing as an enumeration from 0.
    const OperationTable& driver = operations();
    if (!driver.Exports(Operation::ListUSB) && driver.Exports(Operation::EnumerateUSB))
        return driver.Function<Operation::EnumerateUSB>()(a1, a2, 0);
    return Unbound<Operation::ListUSB>(-1, a1, a2);
}

std::int32_t SystemBinding::EnumerateUSB(Word a1, Word a2, Word a3) noexcept
{
    return Unbound<Operation::EnumerateUSB>(-1, a1, a2, a3);
}
std::int32_t SystemBinding::TranslateError(Word a1, Word a2, Word a3) noexcept
{
    return Unbound<Operation::TranslateError>(0, a1, a2, a3);
}
std::int32_t SystemBinding::OpenRS232DaisyChain(Word a1, Word a2, Word a3, Word a4, Word a5) noexcept
{
    return Unbound<Operation::OpenRS232DaisyChain>(-1, a1, a2, a3, a4, a5);
}
void SystemBinding::CloseDaisyChain(Word a1) noexcept { Unbound<Operation::CloseDaisyChain>(0, a1); }

std::int32_t SystemBinding::IsConnected() noexcept { return OnConnection<Operation::IsConnected>(0); }

void SystemBinding::CloseConnection() noexcept
{
    const auto close = operations().Function<Operation::CloseConnection>();
    if (!close) {
        SetPendingError();
        return;
    }
    close(connectionId_.exchange(-1, std::memory_order_relaxed));
}

std::int32_t SystemBinding::SetErrorCheck(Word a1) noexcept { return OnConnection<Operation::SetErrorCheck>(0, a1); }

std::int32_t SystemBinding::GetError() noexcept
{
    // Taken by exchange, so that of two threads asking at once only one gets it.
    if (lastError_.load(std::memory_order_relaxed) != 0)
        if (const std::int32_t pending = lastError_.exchange(0, std::memory_order_relaxed))
            return pending;
    const auto function = operations().Function<Operation::GetError>();
    return function ? function(connectionId()) : FUNCTION_NOT_AVAILABLE;
}

std::int32_t SystemBinding::ZelCommandset(const char* command) noexcept
{
    return OnConnection<Operation::ZelCommandset>(0, command);
}
std::int32_t SystemBinding::ZelGetAnswer(char* answer, std::int32_t size) noexcept
{
    return OnConnection<Operation::ZelGetAnswer>(0, answer, size);
}
std::int32_t SystemBinding::ZelGetAnswerSize(std::int32_t* answerSize) noexcept
{
    return OnConnection<Operation::ZelGetAnswerSize>(0, answerSize);
}
std::int32_t SystemBinding::SetQMC(Word a1, Word a2, Word a3) noexcept { return OnConnection<Operation::SetQMC>(0, a1, a2, a3); }
std::int32_t SystemBinding::GetQMC(Word a1, Word a2, Word a3) noexcept { return OnConnection<Operation::GetQMC>(0, a1, a2, a3); }
std::int32_t SystemBinding::SetQMCA(Word a1, Word a2, Word a3, Word a4) noexcept
{
    return OnConnection<Operation::SetQMCA>(0, a1, a2, a3, a4);
}
std::int32_t SystemBinding::GetQMCA(Word a1, Word a2, Word a3, Word a4) noexcept
{
    return OnConnection<Operation::GetQMCA>(0, a1, a2, a3, a4);
}
std::int32_t SystemBinding::OpenUserStagesEditDialog() noexcept { return OnConnection<Operation::OpenUserStagesEditDialog>(0); }
std::int32_t SystemBinding::OpenQxStagesEditDialog() noexcept { return OnConnection<Operation::OpenQxStagesEditDialog>(0); }
std::int32_t SystemBinding::SendNonZELString(Word a1) noexcept { return OnConnection<Operation::SendNonZELString>(0, a1); }
std::int32_t SystemBinding::ReceiveNonZELString(Word a1, Word a2) noexcept
{
    return OnConnection<Operation::ReceiveNonZELString>(0, a1, a2);
}

} // namespace zelbridge
