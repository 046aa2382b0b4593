// The simulator's open connections and daisy chains, shared by every thread
// of the process: each connection keeps its own state, and one lock keeps
// calls on them from overlapping.
#pragma once

#include "description.h"
#include "session.h"
#include "simulator_errors.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace simulator {

inline constexpr std::int32_t kNoChain = -1;

class ConnectionRegistry {
public:
    // The process's registry, made when the library is loaded and destroyed
    // when it is unloaded; null from then on, when Zelbridge may still close
    // connections from its own detach step.
    static ConnectionRegistry* Instance();

    // A new connection answering from `loaded`, with identifiers counting up
    // from 0 and never handed out twice; or, when the description could not
    // be used, its failure code, kept for GetError and TranslateError.
    std::int32_t Open(LoadedDescription loaded, std::int32_t chain = kNoChain);
    // A new connection replaying the next connection of the recording at
    // `path` not yet replayed in this process: the recording's connections
    // map to the simulator's in the order of their connects.
    std::int32_t OpenReplay(const std::string& path, LoadedRecording loaded, bool recordedDelays,
                            std::int32_t chain = kNoChain);
    // A connect that failed without a connection to keep its error on: the
    // next GetError on an identifier that names no open connection reports it.
    std::int32_t ConnectFailed(std::int32_t code, std::string reason = "");
    std::int32_t Close(std::int32_t id);
    bool IsOpen(std::int32_t id);

    std::int32_t OpenChain();
    bool IsChainOpen(std::int32_t chain);
    // Closes the chain and every connection made on it.
    std::int32_t CloseChain(std::int32_t chain);

    // Runs `action` on the open connection `id`; a failure stays on the
    // connection until GetError reports it.
    template <typename Action> std::int32_t With(std::int32_t id, Action action)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = connections_.find(id);
        if (found == connections_.end())
            return kNotConnected;
        Session& session = *found->second.session;
        const std::int32_t result = action(session);
        return result < 0 ? session.Fail(result) : result;
    }

    // The connection's pending error, or for an identifier that names no
    // open connection the unreported failure of the last connect.
    std::int32_t TakeError(std::int32_t id);
    // The simulator's own text, with the reason of the last description that
    // could not be used; else the text of the newest open connection whose
    // description has the code.
    std::string Translate(std::int32_t code);

private:
    friend struct RegistryOwner;
    ConnectionRegistry() = default;
    std::int32_t Add(std::unique_ptr<Session> session, std::int32_t chain);

    struct Connection {
        std::unique_ptr<Session> session;
        std::int32_t chain;
    };

    std::mutex mutex_;
    std::map<std::int32_t, Connection> connections_;
    std::set<std::int32_t> chains_;
    std::int32_t nextConnection_ = 0;
    std::int32_t nextChain_ = 0;
    std::int32_t connectFailure_ = kNoError;
    // Kept after GetError has taken the code, for TranslateError to explain.
    std::string descriptionFailure_;
    // How many connections of each recording have been replayed.
    std::map<std::string, std::size_t> replayed_;
};

} // namespace simulator
