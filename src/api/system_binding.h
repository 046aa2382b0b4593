// One defined system: the driver functions it forwards to, the driver's
// connection identifier and the pending "function not available" error.
#pragma once

#include "api/driver_contract.h"
#include "api/operation_table.h"

#include <atomic>

namespace zelbridge {

class SystemBinding {
public:
    // No system: what a table slot holds before it is defined and after it
    // is released.
    SystemBinding() noexcept = default;
    explicit SystemBinding(const OperationTable& operations) noexcept : operations_(&operations) {}
    SystemBinding(const SystemBinding&) = delete;
    SystemBinding& operator=(const SystemBinding&) = delete;

    void Bind(const OperationTable& operations) noexcept { operations_.store(&operations, std::memory_order_release); }
    // Bound and not released.
    bool bound() const noexcept
    {
        const OperationTable* operations = operations_.load(std::memory_order_acquire);
        return operations != nullptr && operations != releasedOperations_;
    }
    // Leaves no system behind, then closes the connection it took through the
    // driver. A call that found the system just before meets a table that
    // resolves nothing, never a freed one.
    void Release() noexcept;

    std::int32_t InterfaceSetupDlg(Word a1) noexcept;
    std::int32_t ConnectRS232(Word a1, Word a2) noexcept;
    std::int32_t ConnectNIgpib(Word a1, Word a2) noexcept;
    std::int32_t ConnectPciBoard(Word a1) noexcept;
    std::int32_t Connect(Word a1) noexcept;
    std::int32_t ConnectTCPIP(Word a1, Word a2) noexcept;
    std::int32_t ConnectDaisyChainDevice(Word a1, Word a2) noexcept;
    std::int32_t ConnectUSB(Word a1) noexcept;
    std::int32_t ListUSB(Word a1, Word a2) noexcept;
    std::int32_t EnumerateUSB(Word a1, Word a2, Word a3) noexcept;
    std::int32_t TranslateError(Word a1, Word a2, Word a3) noexcept;
    std::int32_t OpenRS232DaisyChain(Word a1, Word a2, Word a3, Word a4, Word a5) noexcept;
    void CloseDaisyChain(Word a1) noexcept;
    std::int32_t IsConnected() noexcept;
    void CloseConnection() noexcept;
    std::int32_t SetErrorCheck(Word a1) noexcept;
    std::int32_t GetError() noexcept;
    std::int32_t ZelCommandset(const char* command) noexcept;
    std::int32_t ZelGetAnswer(char* answer, std::int32_t size) noexcept;
    std::int32_t ZelGetAnswerSize(std::int32_t* answerSize) noexcept;
    std::int32_t SetQMC(Word a1, Word a2, Word a3) noexcept;
    std::int32_t GetQMC(Word a1, Word a2, Word a3) noexcept;
    std::int32_t SetQMCA(Word a1, Word a2, Word a3, Word a4) noexcept;
    std::int32_t GetQMCA(Word a1, Word a2, Word a3, Word a4) noexcept;
    std::int32_t OpenUserStagesEditDialog() noexcept;
    std::int32_t OpenQxStagesEditDialog() noexcept;
    std::int32_t SendNonZELString(Word a1) noexcept;
    std::int32_t ReceiveNonZELString(Word a1, Word a2) noexcept;

    // Only for a bound system.
    bool Exports(Operation op) const noexcept { return operations().Exports(op); }
    ConnectionId connectionId() const noexcept { return connectionId_.load(std::memory_order_relaxed); }

private:
    const OperationTable& operations() const noexcept { return *operations_.load(std::memory_order_acquire); }
    void SetPendingError() noexcept { lastError_.store(FUNCTION_NOT_AVAILABLE, std::memory_order_relaxed); }

    // A connect-type call: the result becomes the connection identifier.
    template <Operation op, typename... Args> std::int32_t Connecting(Args... args) noexcept;
    // A call with only the caller's arguments; nothing is stored.
    template <Operation op, typename... Args> std::int32_t Unbound(std::int32_t missing, Args... args) noexcept;
    // A call on the connection: the identifier goes first.
    template <Operation op, typename... Args> std::int32_t OnConnection(std::int32_t missing, Args... args) noexcept;

    // What a released system resolves: nothing. Never destroyed, so that even
    // while the process exits a late call reads a table that is there.
    static const OperationTable* const releasedOperations_;

    // Atomic so that two threads on one system never see a torn value; the
    // calls themselves are not ordered with each other, as on any handle. A
    // close or release takes the connection identifier in one exchange and
    // closes only what it took, so that every connection is closed once, as
    // in some serial order of the calls.
    std::atomic<const OperationTable*> operations_{nullptr};
    std::atomic<ConnectionId> connectionId_{-1};
    std::atomic<std::int32_t> lastError_{0};
};

} // namespace zelbridge
