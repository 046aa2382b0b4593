// The loopback driver: the 28 operations of the driver contract under the
// prefix LOOP_, answered in memory, with no hardware behind them.
//
// It is meant to be read as the example of a driver library. Each function
// takes exactly its argument list from the contract (checked at the end of
// this file), hands out connection identifiers from 0 up, rejects what it
// cannot use with a negative result, keeps that failure for GetError, and
// always leaves a terminated text in a caller's buffer.
#include "api/driver_contract.h"
#include "api/spin_lock.h"
#include "command_interpreter.h"
#include "connection_table.h"
#include "loopback_errors.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <type_traits>

using zelbridge::ConnectionId;
using zelbridge::Word;
using namespace loopback;

namespace {

ConnectionTable connections;
static_assert(std::is_trivially_destructible_v<ConnectionTable>,
              "Zelbridge may close connections after static destructors have run");
// Calls may come from any thread. Each entry point holds this lock for its
// whole call, so that a connection it found cannot be closed or handed out
// again under it, and a failure it keeps is the one it caused. Like the
// table, the lock must outlive static destructors.
zelbridge::SpinLock tableLock;
static_assert(std::is_trivially_destructible_v<zelbridge::SpinLock>);
using TableGuard = std::lock_guard<zelbridge::SpinLock>;

// The one device the loopback offers on the USB bus.
constexpr char kUsbDevice[] = "LOOPBACK";
constexpr Word kHighestSerialPort = 255;
constexpr Word kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr Word kHighestBoard = 15;
// GPIB primary addresses run from 0 to 30.
constexpr Word kHighestGpibDevice = 30;
constexpr Word kHighestChainDevice = 16;
constexpr Word kHighestTcpPort = 65535;
// Room for a host name and its terminating zero.
constexpr std::size_t kHostCapacity = 100;

bool IsSerialLink(Word port, Word baud)
{
    if (port < 1 || port > kHighestSerialPort)
        return false;
    for (Word rate : kBaudRates)
        if (rate == baud)
            return true;
    return false;
}

bool IsBoard(Word board)
{
    return board >= 0 && board <= kHighestBoard;
}

// A text the caller passed: present, not empty, and terminated within `capacity`.
bool IsText(const char* text, std::size_t capacity)
{
    return text && *text != '\0' && std::memchr(text, '\0', capacity);
}

template <typename... Args> std::int32_t OpenConnection(const char* format, Args... args)
{
    char link[kLinkCapacity];
    std::snprintf(link, sizeof link, format, args...);
    return connections.Open(link);
}

// Runs `action` on the open connection `id`; a failure stays on the
// connection until GetError reports it.
template <typename Action> std::int32_t OnConnection(ConnectionId id, Action action)
{
    Connection* connection = connections.Find(id);
    if (!connection)
        return kNotConnected;
    const std::int32_t result = action(*connection);
    if (result < 0)
        connection->error = result;
    return result;
}

// Copies `text` into the caller's buffer, cut short when it does not fit.
std::int32_t CopyOut(const char* text, char* buffer, std::intptr_t size)
{
    if (!buffer || size <= 0)
        return kInvalidArgument;
    const auto capacity = static_cast<std::size_t>(size);
    std::snprintf(buffer, capacity, "%s", text);
    return std::strlen(text) < capacity ? kNoError : kBufferTooSmall;
}

void ClearOut(char* buffer, std::intptr_t size)
{
    if (buffer && size > 0)
        buffer[0] = '\0';
}

// Controller features a loopback does not have (stage settings, dialogs):
// they fail on an open connection like any unsupported request, without
// looking at arguments whose meaning belongs to real controllers.
std::int32_t Unsupported(ConnectionId id)
{
    return OnConnection(id, [](Connection&) { return static_cast<std::int32_t>(kNotSupported); });
}

std::int32_t ListDevices(Word buffer, Word size)
{
    const std::int32_t result = CopyOut(kUsbDevice, reinterpret_cast<char*>(buffer), size);
    return result == kNoError ? 1 : result;
}

} // namespace

extern "C" {

// There is nothing to set up: the loopback connects as a dialog's defaults would.
std::int32_t ZELBRIDGE_STDCALL LOOP_InterfaceSetupDlg(Word)
{
    const TableGuard guard(tableLock);
    return OpenConnection("setup dialog, rs232 port %d, %d baud", 1, 9600);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ConnectRS232(Word port, Word baud)
{
    const TableGuard guard(tableLock);
    if (!IsSerialLink(port, baud))
        return connections.ConnectFailed(kInvalidArgument);
    return OpenConnection("rs232 port %d, %d baud", static_cast<int>(port), static_cast<int>(baud));
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ConnectNIgpib(Word board, Word device)
{
    const TableGuard guard(tableLock);
    if (!IsBoard(board) || device < 0 || device > kHighestGpibDevice)
        return connections.ConnectFailed(kInvalidArgument);
    return OpenConnection("gpib board %d, device %d", static_cast<int>(board), static_cast<int>(device));
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ConnectPciBoard(Word board)
{
    const TableGuard guard(tableLock);
    if (!IsBoard(board))
        return connections.ConnectFailed(kInvalidArgument);
    return OpenConnection("pci board %d", static_cast<int>(board));
}

std::int32_t ZELBRIDGE_STDCALL LOOP_Connect(Word board)
{
    const TableGuard guard(tableLock);
    if (!IsBoard(board))
        return connections.ConnectFailed(kInvalidArgument);
    return OpenConnection("board %d", static_cast<int>(board));
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ConnectTCPIP(Word host, Word port)
{
    const TableGuard guard(tableLock);
    const char* hostName = reinterpret_cast<const char*>(host);
    if (!IsText(hostName, kHostCapacity) || port < 1 || port > kHighestTcpPort)
        return connections.ConnectFailed(kInvalidArgument);
    return OpenConnection("tcp %s port %d", hostName, static_cast<int>(port));
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ConnectDaisyChainDevice(Word chain, Word device)
{
    const TableGuard guard(tableLock);
    const DaisyChain* daisyChain = connections.FindChain(static_cast<std::int32_t>(chain));
    if (!daisyChain)
        return connections.ConnectFailed(kNotConnected);
    if (device < 1 || device > kHighestChainDevice)
        return connections.ConnectFailed(kInvalidArgument);
    char link[kLinkCapacity];
    std::snprintf(link, sizeof link, "daisy chain %d, device %d", static_cast<int>(daisyChain->id),
                  static_cast<int>(device));
    return connections.Open(link, daisyChain->id);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ConnectUSB(Word description)
{
    const TableGuard guard(tableLock);
    const char* device = reinterpret_cast<const char*>(description);
    if (!device)
        return connections.ConnectFailed(kInvalidArgument);
    // The terminating zero takes part, so no more than the name is read.
    if (std::strncmp(device, kUsbDevice, sizeof kUsbDevice) != 0)
        return connections.ConnectFailed(kNoSuchDevice);
    return OpenConnection("usb %s", device);
}

// Writes the devices found, one description, and returns how many there are.
std::int32_t ZELBRIDGE_STDCALL LOOP_ListUSB(Word buffer, Word size)
{
    const TableGuard guard(tableLock);
    return ListDevices(buffer, size);
}

// As ListUSB; the loopback has no search options to honour.
std::int32_t ZELBRIDGE_STDCALL LOOP_EnumerateUSB(Word buffer, Word size, Word)
{
    const TableGuard guard(tableLock);
    return ListDevices(buffer, size);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_TranslateError(Word code, Word buffer, Word size)
{
    const TableGuard guard(tableLock);
    const char* text = ErrorText(static_cast<std::int32_t>(code));
    char unknown[48];
    if (!text) {
        std::snprintf(unknown, sizeof unknown, "unknown error code %d", static_cast<int>(code));
        text = unknown;
    }
    return CopyOut(text, reinterpret_cast<char*>(buffer), size);
}

// The remaining arguments carry options a serial chain does not need here.
std::int32_t ZELBRIDGE_STDCALL LOOP_OpenRS232DaisyChain(Word port, Word baud, Word, Word, Word)
{
    const TableGuard guard(tableLock);
    if (!IsSerialLink(port, baud))
        return connections.ConnectFailed(kInvalidArgument);
    char link[kLinkCapacity];
    std::snprintf(link, sizeof link, "daisy chain on rs232 port %d, %d baud", static_cast<int>(port),
                  static_cast<int>(baud));
    return connections.OpenChain(link);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_CloseDaisyChain(Word chain)
{
    const TableGuard guard(tableLock);
    if (!connections.FindChain(static_cast<std::int32_t>(chain)))
        return kNotConnected;
    connections.CloseChain(static_cast<std::int32_t>(chain));
    return kNoError;
}

std::int32_t ZELBRIDGE_STDCALL LOOP_IsConnected(ConnectionId id)
{
    const TableGuard guard(tableLock);
    return connections.Find(id) ? 1 : 0;
}

// Zelbridge calls this with -1 for a system that never connected, and from
// its detach step under the loader lock: it only marks a slot closed.
std::int32_t ZELBRIDGE_STDCALL LOOP_CloseConnection(ConnectionId id)
{
    const TableGuard guard(tableLock);
    if (!connections.Find(id))
        return kNotConnected;
    connections.Close(id);
    return kNoError;
}

std::int32_t ZELBRIDGE_STDCALL LOOP_SetErrorCheck(ConnectionId id, Word enabled)
{
    const TableGuard guard(tableLock);
    return OnConnection(id, [&](Connection& connection) {
        connection.errorCheck = enabled != 0;
        return kNoError;
    });
}

// Reports the connection's last failure once. An identifier that names no
// open connection gets the failure of the last connect attempt, if there is
// one unreported, and otherwise "not connected".
std::int32_t ZELBRIDGE_STDCALL LOOP_GetError(ConnectionId id)
{
    const TableGuard guard(tableLock);
    if (Connection* connection = connections.Find(id)) {
        const std::int32_t error = connection->error;
        connection->error = kNoError;
        return error;
    }
    const std::int32_t connectFailure = connections.TakeConnectFailure();
    return connectFailure != kNoError ? connectFailure : kNotConnected;
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ZelCommandset(ConnectionId id, const char* command)
{
    const TableGuard guard(tableLock);
    return OnConnection(id, [&](Connection& connection) { return Execute(connection, command); });
}

// Hands over the oldest answer; one that does not fit stays queued, cut short
// in the buffer, so that the caller can ask again with more room.
std::int32_t ZELBRIDGE_STDCALL LOOP_ZelGetAnswer(ConnectionId id, char* answer, std::int32_t size)
{
    const TableGuard guard(tableLock);
    ClearOut(answer, size);
    return OnConnection(id, [&](Connection& connection) {
        const char* pending = connection.answers.Front();
        if (!pending)
            return answer && size > 0 ? static_cast<std::int32_t>(kNoAnswer) : kInvalidArgument;
        const std::int32_t result = CopyOut(pending, answer, size);
        if (result == kNoError)
            connection.answers.Pop();
        return result;
    });
}

// The room the oldest answer needs, its terminating zero included; 0 when no
// answer is pending.
std::int32_t ZELBRIDGE_STDCALL LOOP_ZelGetAnswerSize(ConnectionId id, std::int32_t* answerSize)
{
    const TableGuard guard(tableLock);
    if (!answerSize)
        return OnConnection(id, [](Connection&) { return static_cast<std::int32_t>(kInvalidArgument); });
    *answerSize = 0;
    return OnConnection(id, [&](Connection& connection) {
        if (const char* pending = connection.answers.Front())
            *answerSize = static_cast<std::int32_t>(std::strlen(pending) + 1);
        return static_cast<std::int32_t>(kNoError);
    });
}

std::int32_t ZELBRIDGE_STDCALL LOOP_SetQMC(ConnectionId id, Word, Word, Word)
{
    const TableGuard guard(tableLock);
    return Unsupported(id);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_GetQMC(ConnectionId id, Word, Word, Word)
{
    const TableGuard guard(tableLock);
    return Unsupported(id);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_SetQMCA(ConnectionId id, Word, Word, Word, Word)
{
    const TableGuard guard(tableLock);
    return Unsupported(id);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_GetQMCA(ConnectionId id, Word, Word, Word, Word)
{
    const TableGuard guard(tableLock);
    return Unsupported(id);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_OpenUserStagesEditDialog(ConnectionId id)
{
    const TableGuard guard(tableLock);
    return Unsupported(id);
}

std::int32_t ZELBRIDGE_STDCALL LOOP_OpenQxStagesEditDialog(ConnectionId id)
{
    const TableGuard guard(tableLock);
    return Unsupported(id);
}

// Text outside the command set goes out unchanged and, on a loopback, comes
// straight back with the next ReceiveNonZELString.
std::int32_t ZELBRIDGE_STDCALL LOOP_SendNonZELString(ConnectionId id, Word text)
{
    const TableGuard guard(tableLock);
    const char* sent = reinterpret_cast<const char*>(text);
    return OnConnection(id, [&](Connection& connection) {
        if (!sent)
            return static_cast<std::int32_t>(kInvalidArgument);
        if (!std::memchr(sent, '\0', sizeof connection.echoText))
            return static_cast<std::int32_t>(kCommandTooLong);
        std::snprintf(connection.echoText, sizeof connection.echoText, "%s", sent);
        connection.echoPending = true;
        return static_cast<std::int32_t>(kNoError);
    });
}

std::int32_t ZELBRIDGE_STDCALL LOOP_ReceiveNonZELString(ConnectionId id, Word buffer, Word size)
{
    const TableGuard guard(tableLock);
    char* received = reinterpret_cast<char*>(buffer);
    ClearOut(received, size);
    return OnConnection(id, [&](Connection& connection) {
        if (!connection.echoPending)
            return received && size > 0 ? static_cast<std::int32_t>(kNoAnswer) : kInvalidArgument;
        const std::int32_t result = CopyOut(connection.echoText, received, size);
        if (result == kNoError)
            connection.echoPending = false;
        return result;
    });
}

} // extern "C"

// Every operation of the contract is here, with the contract's own argument list.
#define LOOPBACK_FOLLOWS_CONTRACT(name, params, args, description, families)                                                    \
    static_assert(std::is_same_v<decltype(&LOOP_##name), zelbridge::DriverFunction<zelbridge::Operation::name>>, \
                  "LOOP_" #name " must take the argument list of the driver contract");
ZELBRIDGE_DRIVER_OPERATIONS(LOOPBACK_FOLLOWS_CONTRACT)
#undef LOOPBACK_FOLLOWS_CONTRACT
