// The operations on the connection registry: connects read the description
// file, the others find their connection and act on it. No exception leaves.
#include "driver_operations.h"

#include "connection_registry.h"
#include "library_location.h"
#include "simulated_clock.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <string>

namespace simulator {
namespace {

constexpr char kDescriptionVariable[] = "ZELBRIDGE_SIM";
constexpr char kDefaultDescriptionFile[] = "Simulator.json";
// "1" replays answers as late as they came on the recording.
constexpr char kRecordedDelaysVariable[] = "ZELBRIDGE_SIM_RECORDED_DELAYS";
// Longer texts are taken for a missing terminating zero ...
constexpr std::size_t kLongestCommand = 4096;
// ... except on a replayed connection, where a recorded command may be as
// long as the application made it; its recorded part is what is compared.
constexpr std::size_t kLongestReplayedCommand = std::size_t{64} << 20;
constexpr std::size_t kLongestPath = 32768;
constexpr Word kHighestChainDevice = 16;

// Runs `operation` on the registry, turning an exception into a failure
// code: the only ones to expect are out of memory and, as rare, a lock the
// system cannot give. Once the registry is gone, at unload, no connection is open.
template <typename Operation> std::int32_t Guarded(Operation operation) noexcept
{
    try {
        ConnectionRegistry* registry = ConnectionRegistry::Instance();
        return registry ? operation(*registry) : static_cast<std::int32_t>(kNotConnected);
    } catch (...) {
        return kOutOfMemory;
    }
}

// A text the caller passed: present, not empty, and terminated within `capacity`.
const char* TextArgument(Word text, std::size_t capacity)
{
    const char* chars = reinterpret_cast<const char*>(text);
    return chars && *chars != '\0' && std::memchr(chars, '\0', capacity) ? chars : nullptr;
}

// The file that connects other than ConnectUSB answer from.
std::optional<std::string> DefaultDescriptionPath()
{
    const char* named = zelbridge::platform::Setting(kDescriptionVariable);
    if (named && *named != '\0')
        return std::string(named);
    const std::string folder = LibraryFolder();
    if (folder.empty())
        return std::nullopt;
    return folder + kDefaultDescriptionFile;
}

// A recording is replayed, anything else read as a description.
std::int32_t OpenFile(ConnectionRegistry& registry, const std::string& path, std::int32_t chain = kNoChain)
{
    if (std::optional<LoadedRecording> recording = LoadRecordingIfOne(path)) {
        const char* delays = zelbridge::platform::Setting(kRecordedDelaysVariable);
        const bool recordedDelays = delays && std::strcmp(delays, "1") == 0;
        return registry.OpenReplay(path, std::move(*recording), recordedDelays, chain);
    }
    return registry.Open(LoadDescription(path), chain);
}

std::int32_t ConnectDefault(ConnectionRegistry& registry, std::int32_t chain = kNoChain)
{
    const std::optional<std::string> path = DefaultDescriptionPath();
    if (!path)
        return registry.ConnectFailed(kNoDescription, std::string("no description file: set ") +
                                                            kDescriptionVariable + " to its path");
    return OpenFile(registry, *path, chain);
}

std::int32_t CopyOut(const std::string& text, char* buffer, Word size)
{
    if (!buffer || size <= 0)
        return kInvalidArgument;
    const auto capacity = static_cast<std::size_t>(size);
    const std::size_t copied = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return copied == text.size() ? kNoError : kBufferTooSmall;
}

void ClearOut(char* buffer, Word size)
{
    if (buffer && size > 0)
        buffer[0] = '\0';
}

// The default description file, as the one device on the simulated bus.
std::int32_t ListDevices(Word buffer, Word size)
{
    char* list = reinterpret_cast<char*>(buffer);
    ClearOut(list, size);
    const std::optional<std::string> path = DefaultDescriptionPath();
    if (!path || !std::ifstream(*path))
        return 0;
    const std::int32_t result = CopyOut(*path, list, size);
    return result == kNoError ? 1 : result;
}

std::int32_t NotSimulated(ConnectionRegistry& registry, ConnectionId id)
{
    return registry.With(id, [](Session&) { return static_cast<std::int32_t>(kNotSimulated); });
}

} // namespace

std::int32_t InterfaceSetupDlg(Word) noexcept
{
    return Guarded([](ConnectionRegistry& registry) { return ConnectDefault(registry); });
}

// A simulated link needs no port, rate, board or address of its own.
std::int32_t ConnectRS232(Word, Word) noexcept
{
    return Guarded([](ConnectionRegistry& registry) { return ConnectDefault(registry); });
}

std::int32_t ConnectNIgpib(Word, Word) noexcept
{
    return Guarded([](ConnectionRegistry& registry) { return ConnectDefault(registry); });
}

std::int32_t ConnectPciBoard(Word) noexcept
{
    return Guarded([](ConnectionRegistry& registry) { return ConnectDefault(registry); });
}

std::int32_t Connect(Word) noexcept
{
    return Guarded([](ConnectionRegistry& registry) { return ConnectDefault(registry); });
}

std::int32_t ConnectTCPIP(Word host, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        return TextArgument(host, kLongestPath) ? ConnectDefault(registry) : registry.ConnectFailed(kInvalidArgument);
    });
}

std::int32_t ConnectDaisyChainDevice(Word chain, Word device) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        if (!registry.IsChainOpen(static_cast<std::int32_t>(chain)))
            return registry.ConnectFailed(kNotConnected);
        if (device < 1 || device > kHighestChainDevice)
            return registry.ConnectFailed(kInvalidArgument);
        return ConnectDefault(registry, static_cast<std::int32_t>(chain));
    });
}

// The description is the path of the file to answer from.
std::int32_t ConnectUSB(Word description) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        const char* path = TextArgument(description, kLongestPath);
        return path ? OpenFile(registry, path) : registry.ConnectFailed(kInvalidArgument);
    });
}

std::int32_t ListUSB(Word buffer, Word size) noexcept
{
    return Guarded([&](ConnectionRegistry&) { return ListDevices(buffer, size); });
}

std::int32_t EnumerateUSB(Word buffer, Word size, Word) noexcept
{
    return Guarded([&](ConnectionRegistry&) { return ListDevices(buffer, size); });
}

std::int32_t TranslateError(Word code, Word buffer, Word size) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        return CopyOut(registry.Translate(static_cast<std::int32_t>(code)), reinterpret_cast<char*>(buffer), size);
    });
}

// The serial settings of a chain mean nothing to a simulation.
std::int32_t OpenRS232DaisyChain(Word, Word, Word, Word, Word) noexcept
{
    return Guarded([](ConnectionRegistry& registry) { return registry.OpenChain(); });
}

std::int32_t CloseDaisyChain(Word chain) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return registry.CloseChain(static_cast<std::int32_t>(chain)); });
}

std::int32_t IsConnected(ConnectionId id) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return registry.IsOpen(id) ? 1 : 0; });
}

// Zelbridge calls this with -1 for a system that never connected, and from
// its detach step under the loader lock.
std::int32_t CloseConnection(ConnectionId id) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return registry.Close(id); });
}

std::int32_t SetErrorCheck(ConnectionId id, Word enabled) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        return registry.With(id, [&](Session& session) {
            session.SetErrorCheck(enabled != 0);
            return static_cast<std::int32_t>(kNoError);
        });
    });
}

std::int32_t GetError(ConnectionId id) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return registry.TakeError(id); });
}

std::int32_t ZelCommandset(ConnectionId id, const char* command) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        const Clock::time_point now = SimulatedNow();
        return registry.With(id, [&](Session& session) {
            if (!command)
                return static_cast<std::int32_t>(kInvalidArgument);
            const void* end =
                std::memchr(command, '\0', session.replaying() ? kLongestReplayedCommand : kLongestCommand);
            if (!end)
                return static_cast<std::int32_t>(kCommandTooLong);
            return session.Execute(std::string_view(command, static_cast<const char*>(end) - command), now);
        });
    });
}

// Hands over the oldest answer whose delay has passed; one that does not
// fit stays queued, cut short in the buffer, so that the caller can ask again.
std::int32_t ZelGetAnswer(ConnectionId id, char* answer, std::int32_t size) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        ClearOut(answer, size);
        const Clock::time_point now = SimulatedNow();
        return registry.With(id, [&](Session& session) {
            if (!answer || size <= 0)
                return static_cast<std::int32_t>(kInvalidArgument);
            bool waiting = false;
            const std::string* ready = session.ReadyAnswer(now, waiting);
            if (!ready)
                return static_cast<std::int32_t>(waiting ? kAnswerNotReady : kNoAnswer);
            const std::int32_t result = CopyOut(*ready, answer, size);
            if (result == kNoError)
                session.DropAnswer();
            return result;
        });
    });
}

// The room the oldest answer needs, its terminating zero included; 0 while
// none is ready.
std::int32_t ZelGetAnswerSize(ConnectionId id, std::int32_t* answerSize) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        if (answerSize)
            *answerSize = 0;
        const Clock::time_point now = SimulatedNow();
        return registry.With(id, [&](Session& session) {
            if (!answerSize)
                return static_cast<std::int32_t>(kInvalidArgument);
            bool waiting = false;
            if (const std::string* ready = session.ReadyAnswer(now, waiting))
                *answerSize = static_cast<std::int32_t>(ready->size() + 1);
            return static_cast<std::int32_t>(kNoError);
        });
    });
}

// Stage settings, dialogs and text outside the command set belong to real
// controllers: they fail on an open connection like any unsupported request.
std::int32_t SetQMC(ConnectionId id, Word, Word, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t GetQMC(ConnectionId id, Word, Word, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t SetQMCA(ConnectionId id, Word, Word, Word, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t GetQMCA(ConnectionId id, Word, Word, Word, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t OpenUserStagesEditDialog(ConnectionId id) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t OpenQxStagesEditDialog(ConnectionId id) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t SendNonZELString(ConnectionId id, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t ReceiveNonZELString(ConnectionId id, Word, Word) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) { return NotSimulated(registry, id); });
}

std::int32_t GetCurrentBoardId(Word id) noexcept
{
    return Guarded([&](ConnectionRegistry& registry) {
        const auto connection = static_cast<ConnectionId>(id);
        return registry.IsOpen(connection) ? connection : static_cast<std::int32_t>(kNotConnected);
    });
}

std::int32_t GetCurrentInterfaceId(Word id) noexcept
{
    return GetCurrentBoardId(id);
}

std::int32_t T5XXSendString(Word id, Word command) noexcept
{
    return ZelCommandset(static_cast<ConnectionId>(id), reinterpret_cast<const char*>(command));
}

std::int32_t T5XXReadLine(ConnectionId id, Word buffer, Word size) noexcept
{
    return ZelGetAnswer(id, reinterpret_cast<char*>(buffer), static_cast<std::int32_t>(size));
}

} // namespace simulator
