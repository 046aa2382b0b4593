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
        // Against the storage's address, a constant, rather than a pointer read from memory.
        return operations != nullptr && static_cast<const void*>(operations) != releasedOperationsStorage_;
    }
    // Leaves no system behind, then closes the connection it took through the
    // driver. A call that found the system just before meets a table that
    // resolves nothing, never a freed one.
    void Release() noexcept;

    // The operation `op` on the driver, as the operation table describes it:
    // a connect keeps the driver's result as the connection identifier, a
    // call on the connection passes it first, and a function the driver does
    // not export gives the table's result and a pending error.
    template <Operation op, typename... Words> std::int32_t Call(Words... words) noexcept;

    // The same by name: system.ZelCommandset("*IDN?").
#define ZELBRIDGE_BINDING_KIND(kind, ...) kind
#define ZELBRIDGE_BINDING_JOIN(a, b) ZELBRIDGE_BINDING_JOIN_(a, b)
#define ZELBRIDGE_BINDING_JOIN_(a, b) a##b
#define ZELBRIDGE_BINDING_APPLY(macro, list) macro list
#define ZELBRIDGE_BINDING_WORDS_Connect(...) (__VA_ARGS__)
#define ZELBRIDGE_BINDING_WORDS_Unbound(...) (__VA_ARGS__)
#define ZELBRIDGE_BINDING_WORDS_OnConnection(connection, ...) (__VA_ARGS__)
#define ZELBRIDGE_BINDING_WORDS(description, list)                                                              \
    ZELBRIDGE_BINDING_APPLY(ZELBRIDGE_BINDING_JOIN(ZELBRIDGE_BINDING_WORDS_, ZELBRIDGE_BINDING_KIND description), list)
#define ZELBRIDGE_BINDING_OPERATION(name, params, args, description, families)                                            \
    std::int32_t name ZELBRIDGE_BINDING_WORDS(description, params) noexcept                                     \
    {                                                                                                           \
        return Call<Operation::name> ZELBRIDGE_BINDING_WORDS(description, args);                                \
    }
    ZELBRIDGE_DRIVER_OPERATIONS(ZELBRIDGE_BINDING_OPERATION)
#undef ZELBRIDGE_BINDING_OPERATION

    // Only for a bound system.
    bool Exports(Operation op) const noexcept { return operations().Exports(op); }
    // Whether Call<op> reaches a driver function, which reads the call's
    // texts and writes its buffers: a listing also reaches an enumeration.
    bool Reaches(Operation op) const noexcept
    {
        return Exports(op) || (op == Operation::ListUSB && Exports(Operation::EnumerateUSB));
    }
    ConnectionId connectionId() const noexcept { return connectionId_.load(std::memory_order_relaxed); }

private:
    const OperationTable& operations() const noexcept { return *operations_.load(std::memory_order_acquire); }
    void SetPendingError() noexcept { lastError_.store(FUNCTION_NOT_AVAILABLE, std::memory_order_relaxed); }

    // What a released system resolves: nothing. Never destroyed, so that even
    // while the process exits a late call reads a table that is there.
    static const OperationTable* const releasedOperations_;
    alignas(OperationTable) static unsigned char releasedOperationsStorage_[sizeof(OperationTable)];

    // Atomic so that two threads on one system never see a torn value; the
    // calls themselves are not ordered with each other, as on any handle. A
    // close or release takes the connection identifier in one exchange and
    // closes only what it took, so that every connection is closed once, as
    // in some serial order of the calls.
    std::atomic<const OperationTable*> operations_{nullptr};
    std::atomic<ConnectionId> connectionId_{-1};
    std::atomic<std::int32_t> lastError_{0};
};

template <Operation op, typename... Words> inline std::int32_t SystemBinding::Call(Words... words) noexcept
{
    constexpr const OperationDescription& operation = Describe(op);
    const OperationTable& driver = operations();
    if constexpr (op == Operation::GetError) {
        // Taken by exchange, so that of two threads asking at once only one gets it.
        if (lastError_.load(std::memory_order_relaxed) != 0)
            if (const std::int32_t pending = lastError_.exchange(0, std::memory_order_relaxed))
                return pending;
        const auto function = driver.Function<op>();
        return function ? function(connectionId()) : operation.missingResult;
    }
    if constexpr (op == Operation::ListUSB) {
        // Drivers that only enumerate answer a listing as an enumeration from 0.
        if (!driver.Exports(op) && driver.Exports(Operation::EnumerateUSB))
            return driver.Function<Operation::EnumerateUSB>()(words..., 0);
    }
    const auto function = driver.Function<op>();
    if (!function) {
        SetPendingError();
        return operation.missingResult;
    }
    if constexpr (op == Operation::CloseConnection) {
        function(connectionId_.exchange(-1, std::memory_order_relaxed));
        return 0;
    } else if constexpr (operation.kind == OperationKind::Connect) {
        const ConnectionId connection = function(words...);
        // A connection this replaces stays open, as after two connects in a row.
        connectionId_.store(connection, std::memory_order_relaxed);
        return connection;
    } else if constexpr (operation.kind == OperationKind::OnConnection) {
        return function(connectionId(), words...);
    } else {
        return function(words...);
    }
}

} // namespace zelbridge
