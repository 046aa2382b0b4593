// One defined system: a driver library, a function-name prefix, the driver
// functions resolved from them, the driver's connection identifier and the
// pending "function not available" error.
#pragma once

#include "api/driver_contract.h"
#include "platform/platform.h"

#include <array>
#include <string>

namespace zelbridge {

class SystemBinding {
public:
    // The longest symbol a prefix and an operation name may form together.
    static constexpr std::size_t kSymbolCapacity = 256;

    SystemBinding(platform::ModuleHandle module, const char* prefix);
    ~SystemBinding();
    SystemBinding(const SystemBinding&) = delete;
    SystemBinding& operator=(const SystemBinding&) = delete;

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

    bool Exports(Operation op) const noexcept { return operations_[Index(op)] != nullptr; }
    ConnectionId connectionId() const noexcept { return connectionId_; }
    const std::string& prefix() const noexcept { return prefix_; }

private:
    static constexpr unsigned Index(Operation op) noexcept { return static_cast<unsigned>(op); }
    platform::ProcAddress Resolve(const char* operationName) const noexcept;

    template <Operation op> DriverFunction<op> Function() const noexcept
    {
        return reinterpret_cast<DriverFunction<op>>(operations_[Index(op)]);
    }
    // A connect-type call: the result becomes the connection identifier.
    template <Operation op, typename... Args> std::int32_t Connecting(Args... args) noexcept;
    // A call with only the caller's arguments; nothing is stored.
    template <Operation op, typename... Args> std::int32_t Unbound(std::int32_t missing, Args... args) noexcept;
    // A call on the connection: the identifier goes first.
    template <Operation op, typename... Args> std::int32_t OnConnection(std::int32_t missing, Args... args) noexcept;

    std::array<platform::ProcAddress, kOperationCount> operations_{};
    ConnectionId connectionId_ = -1;
    std::int32_t lastError_ = 0;
    std::string prefix_;
    platform::ModuleHandle module_;
};

} // namespace zelbridge
