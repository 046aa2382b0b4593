// Handing out, finding and closing simulated connections and daisy chains.
#include "connection_registry.h"

#include "api/driver_contract.h"

#include <atomic>
#include <limits>

namespace simulator {
namespace {

// Trivially destructible, so still readable after the registry is gone.
std::atomic<bool> registryDestroyed{false};

} // namespace

struct RegistryOwner {
    ~RegistryOwner() { registryDestroyed = true; }
    ConnectionRegistry registry;
};

namespace {

// Made when the library is loaded, so that no first use can fall after the
// library's exit processing.
RegistryOwner owner;

} // namespace

ConnectionRegistry* ConnectionRegistry::Instance()
{
    return registryDestroyed ? nullptr : &owner.registry;
}

std::int32_t ConnectionRegistry::Open(LoadedDescription loaded, std::int32_t chain)
{
    if (!loaded.description)
        return ConnectFailed(loaded.failure, std::move(loaded.reason));
    return Add(std::make_unique<Session>(std::move(loaded.description)), chain);
}

std::int32_t ConnectionRegistry::OpenReplay(const std::string& path, LoadedRecording loaded, bool recordedDelays,
                                            std::int32_t chain)
{
    if (!loaded.recording)
        return ConnectFailed(kInvalidDescription, std::move(loaded.reason));
    std::size_t connection = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        connection = replayed_[path]++;
    }
    const Recording& recording = *loaded.recording;
    if (connection >= recording.connections.size())
        return ConnectFailed(kReplayMismatch, "the recording \"" + path + "\" holds " +
                                                  std::to_string(recording.connections.size()) +
                                                  " connections; came connect number " +
                                                  std::to_string(connection + 1));
    auto errors = std::make_shared<Description>();
    errors->errors = recording.errors;
    return Add(std::make_unique<Session>(std::move(errors), recording.connections[connection], recordedDelays), chain);
}

std::int32_t ConnectionRegistry::Add(std::unique_ptr<Session> session, std::int32_t chain)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (nextConnection_ == std::numeric_limits<std::int32_t>::max()) {
        connectFailure_ = kTooManyConnections;
        return kTooManyConnections;
    }
    const std::int32_t id = nextConnection_++;
    connections_.emplace(id, Connection{std::move(session), chain});
    return id;
}

std::int32_t ConnectionRegistry::ConnectFailed(std::int32_t code, std::string reason)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    connectFailure_ = code;
    if (!reason.empty())
        descriptionFailure_ = std::move(reason);
    return code;
}

std::int32_t ConnectionRegistry::Close(std::int32_t id)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return connections_.erase(id) == 1 ? kNoError : kNotConnected;
}

bool ConnectionRegistry::IsOpen(std::int32_t id)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return connections_.count(id) == 1;
}

std::int32_t ConnectionRegistry::OpenChain()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (nextChain_ == std::numeric_limits<std::int32_t>::max()) {
        connectFailure_ = kTooManyConnections;
        return kTooManyConnections;
    }
    chains_.insert(nextChain_);
    return nextChain_++;
}

bool ConnectionRegistry::IsChainOpen(std::int32_t chain)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return chains_.count(chain) == 1;
}

std::int32_t ConnectionRegistry::CloseChain(std::int32_t chain)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (chains_.erase(chain) == 0)
        return kNotConnected;
    for (auto connection = connections_.begin(); connection != connections_.end();)
        connection = connection->second.chain == chain ? connections_.erase(connection) : std::next(connection);
    return kNoError;
}

std::int32_t ConnectionRegistry::TakeError(std::int32_t id)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = connections_.find(id);
    if (found != connections_.end())
        return found->second.session->TakeError();
    const std::int32_t failure = connectFailure_;
    connectFailure_ = kNoError;
    return failure != kNoError ? failure : kNotConnected;
}

std::string ConnectionRegistry::Translate(std::int32_t code)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (const char* own = OwnErrorText(code)) {
        if (code == kReplayMismatch) {
            for (auto connection = connections_.rbegin(); connection != connections_.rend(); ++connection) {
                if (!connection->second.session->mismatch().empty())
                    return std::string(own) + ": " + connection->second.session->mismatch();
            }
        }
        const bool explained =
            (code == kNoDescription || code == kInvalidDescription || code == kReplayMismatch) &&
            !descriptionFailure_.empty();
        return explained ? std::string(own) + ": " + descriptionFailure_ : own;
    }
    for (auto connection = connections_.rbegin(); connection != connections_.rend(); ++connection) {
        const auto& errors = connection->second.session->description().errors;
        const auto found = errors.find(code);
        if (found != errors.end())
            return found->second;
    }
    if (code == FUNCTION_NOT_AVAILABLE)
        return FUNCTION_NOT_AVAILABLE_TEXT;
    return "unknown error code " + std::to_string(code);
}

} // namespace simulator
