// The loopback driver's open connections and daisy chains.
//
// Everything lives in fixed storage that needs no destructor: Zelbridge may
// call CloseConnection from its own detach step, at process exit, after this
// library's static objects would already have been destroyed.
#pragma once

#include "answer_queue.h"

#include <cstddef>
#include <cstdint>

namespace loopback {

inline constexpr std::int32_t kNoChain = -1;
// Room for a connection's description and its terminating zero.
inline constexpr std::size_t kLinkCapacity = 128;

struct Connection {
    std::int32_t id;
    bool open;
    std::int32_t chain;
    // While set, an unknown command fails; cleared, it is ignored.
    bool errorCheck;
    // The last failure on this connection that GetError has not reported yet.
    std::int32_t error;
    // How the connection was made, as the LINK? command reports it.
    char link[kLinkCapacity];
    AnswerQueue answers;
    // The last text sent with SendNonZELString, until it is received back.
    char echoText[AnswerQueue::kTextCapacity];
    bool echoPending;
};

struct DaisyChain {
    std::int32_t id;
    bool open;
    char link[kLinkCapacity];
};

class ConnectionTable {
public:
    static constexpr std::size_t kConnectionCapacity = 16;
    static constexpr std::size_t kChainCapacity = 4;

    // The new connection's identifier, or kTooManyConnections. Identifiers
    // count up from 0 and are never handed out twice, so a stale identifier
    // can never reach a newer connection.
    std::int32_t Open(const char* link, std::int32_t chain = kNoChain) noexcept;
    // The open connection `id`, or null.
    Connection* Find(std::int32_t id) noexcept;
    void Close(std::int32_t id) noexcept;

    std::int32_t OpenChain(const char* link) noexcept;
    DaisyChain* FindChain(std::int32_t id) noexcept;
    // Closes the chain and every connection made on it.
    void CloseChain(std::int32_t id) noexcept;

    // A failed connect has no connection to keep its error on: the next
    // GetError on an identifier that names no open connection reports it.
    std::int32_t ConnectFailed(std::int32_t code) noexcept
    {
        connectFailure_ = code;
        return code;
    }
    std::int32_t TakeConnectFailure() noexcept
    {
        const std::int32_t code = connectFailure_;
        connectFailure_ = 0;
        return code;
    }

private:
    Connection connections_[kConnectionCapacity]{};
    DaisyChain chains_[kChainCapacity]{};
    std::int32_t nextConnectionId_ = 0;
    std::int32_t nextChainId_ = 0;
    std::int32_t connectFailure_ = 0;
};

} // namespace loopback
