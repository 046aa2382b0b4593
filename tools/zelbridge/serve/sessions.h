// Sessions and their leases: each session owns the systems it defined and
// the family connections it opened; a session deleted, or silent for longer
// than its lease, has them closed, so that a client that went away holds
// no port. Systems are kept by index for reuse, since the module never
// gives an index back.
#pragma once

#include "module_calls.h"
#include "remote_service.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelbridge::tool::serve {

inline constexpr int kDefaultLeaseSeconds = 30;
inline constexpr int kLongestLeaseSeconds = 24 * 3600;

struct Session {
    std::string id;
    std::chrono::seconds lease{kDefaultLeaseSeconds};
    std::chrono::steady_clock::time_point lastSeen = std::chrono::steady_clock::now();
    int inFlight = 0;
    bool closed = false;
    std::vector<std::shared_ptr<CallTarget>> systems;
    std::map<std::pair<std::string, std::int32_t>, std::shared_ptr<CallTarget>> connections;
};

class SessionTable {
public:
    SessionTable(const ModuleEntries& module, Log& log, std::chrono::milliseconds reapInterval);
    ~SessionTable();
    SessionTable(const SessionTable&) = delete;
    SessionTable& operator=(const SessionTable&) = delete;

    // A session in use by one request: its lease does not run meanwhile.
    class Use {
    public:
        Use(SessionTable& table, std::shared_ptr<Session> session) : table_(table), session_(std::move(session)) {}
        ~Use() { table_.Release(*session_); }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        Session& operator*() const { return *session_; }
        Session* operator->() const { return session_.get(); }
        const std::shared_ptr<Session>& Shared() const { return session_; }

    private:
        SessionTable& table_;
        std::shared_ptr<Session> session_;
    };

    std::shared_ptr<Session> Open(std::chrono::seconds lease);
    // 404 when there is no such session.
    std::shared_ptr<Session> Acquire(const std::string& id);
    void Close(const std::shared_ptr<Session>& session, const char* why);
    void CloseAll();

    // A free system of the same library and prefix, now the session's, or
    // null; 503 when the session has as many systems as it may.
    std::shared_ptr<CallTarget> TakeFreeSystem(Session& session, const std::string& library, const std::string& prefix);
    // A system the session defined or took; `fresh` when newly defined. When
    // the session closed meanwhile, the system is closed and 404 thrown.
    void AddSystem(Session& session, const std::shared_ptr<CallTarget>& system, bool fresh);
    std::shared_ptr<CallTarget> FindSystem(Session& session, std::int32_t index);
    // Likewise; 503 past the bound of connections per session.
    void AddConnection(Session& session, const std::shared_ptr<CallTarget>& connection);
    std::shared_ptr<CallTarget> FindConnection(Session& session, const std::string& family, std::int32_t id);
    void DropConnection(Session& session, const std::string& family, std::int32_t id);
    // The session's systems by index and its connections by family and id.
    json Listing(Session& session);

    // Calls of a family that take no connection go one at a time.
    std::mutex& FamilyLock(const std::string& family) { return familyLocks_.at(family); }

private:
    void Release(Session& session);
    void Close(const std::shared_ptr<Session>& session, const char* why, bool onlyIfExpired);
    static bool Expired(const Session& session, std::chrono::steady_clock::time_point now);
    void ReapExpired();

    const ModuleEntries& module_;
    Log& log_;
    const std::chrono::milliseconds reapInterval_;
    std::mutex lock_;
    std::map<std::string, std::shared_ptr<Session>> sessions_;
    // Systems defined so far by index, kept for reuse once their session ends.
    std::map<std::int32_t, std::shared_ptr<CallTarget>> systems_;
    std::map<std::string, std::mutex> familyLocks_;
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread reaper_;
};

} // namespace zelbridge::tool::serve
