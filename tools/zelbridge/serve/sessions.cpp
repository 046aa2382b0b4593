// The table of sessions, the systems and connections each holds, and the
// reaper that closes those whose lease ran out.
#include "sessions.h"

#include "api_error.h"
#include "os/os_services.h"

namespace zelbridge::tool::serve {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMostSessions = 64;
constexpr std::size_t kMostSystemsPerSession = 32;
constexpr std::size_t kMostConnectionsPerSession = 32;
// The module never gives an index back: each library and prefix defined is
// kept for good, so their number bounds the server's memory.
constexpr std::size_t kMostSystems = 128;

std::string NewIdentifier()
{
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (unsigned char byte : os::RandomBytes(16)) {
        id += digits[byte >> 4];
        id += digits[byte & 15];
    }
    return id;
}

} // namespace

SessionTable::SessionTable(const ModuleEntries& module, Log& log, std::chrono::milliseconds reapInterval)
    : module_(module), log_(log), reapInterval_(reapInterval)
{
    for (const FamilyOperations& family : Families())
        familyLocks_[family.name];
    reaper_ = std::thread([this] {
        std::unique_lock<std::mutex> guard(lock_);
        while (!stopping_) {
            wake_.wait_for(guard, reapInterval_);
            guard.unlock();
            ReapExpired();
            guard.lock();
        }
    });
}

SessionTable::~SessionTable()
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    reaper_.join();
    CloseAll();
}

std::shared_ptr<Session> SessionTable::Open(std::chrono::seconds lease)
{
    auto session = std::make_shared<Session>();
    session->id = NewIdentifier();
    session->lease = lease;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (sessions_.size() >= kMostSessions)
            Refuse(503, "busy", "the server has " + std::to_string(kMostSessions) + " sessions open");
        sessions_[session->id] = session;
    }
    log_.Line("session " + session->id + " opened, lease " + std::to_string(session->lease.count()) + " s");
    return session;
}

std::shared_ptr<Session> SessionTable::Acquire(const std::string& id)
{
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end())
        Refuse(404, "no_session", "no session " + id + ": it was deleted, or its lease ran out");
    found->second->inFlight++;
    found->second->lastSeen = Clock::now();
    return found->second;
}

void SessionTable::Release(Session& session)
{
    const std::lock_guard<std::mutex> guard(lock_);
    session.inFlight--;
    session.lastSeen = Clock::now();
}

void SessionTable::Close(const std::shared_ptr<Session>& session, const char* why)
{
    Close(session, why, false);
}

void SessionTable::Close(const std::shared_ptr<Session>& session, const char* why, bool onlyIfExpired)
{
    std::vector<std::shared_ptr<CallTarget>> systems;
    std::map<std::pair<std::string, std::int32_t>, std::shared_ptr<CallTarget>> connections;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        // Looked at again under the lock: a request may have come since the reaper chose it.
        if (session->closed || (onlyIfExpired && !Expired(*session, Clock::now())))
            return;
        session->closed = true;
        sessions_.erase(session->id);
        systems.swap(session->systems);
        connections.swap(session->connections);
    }
    for (const std::shared_ptr<CallTarget>& system : systems) {
        CloseTarget(module_, *system);
        const std::lock_guard<std::mutex> guard(lock_);
        system->owner.clear();
    }
    for (const auto& connection : connections)
        CloseTarget(module_, *connection.second);
    log_.Line("session " + session->id + " " + why + ": " + std::to_string(systems.size()) + " systems and " +
              std::to_string(connections.size()) + " family connections closed");
}

bool SessionTable::Expired(const Session& session, std::chrono::steady_clock::time_point now)
{
    return session.inFlight == 0 && now - session.lastSeen > session.lease;
}

void SessionTable::ReapExpired()
{
    std::vector<std::shared_ptr<Session>> expired;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const Clock::time_point now = Clock::now();
        for (const auto& entry : sessions_)
            if (Expired(*entry.second, now))
                expired.push_back(entry.second);
    }
    for (const std::shared_ptr<Session>& session : expired)
        Close(session, "expired", true);
}

void SessionTable::CloseAll()
{
    std::vector<std::shared_ptr<Session>> all;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        for (const auto& entry : sessions_)
            all.push_back(entry.second);
    }
    for (const std::shared_ptr<Session>& session : all)
        Close(session, "ended with the server");
}

std::shared_ptr<CallTarget> SessionTable::TakeFreeSystem(Session& session, const std::string& library,
                                                         const std::string& prefix)
{
    const std::lock_guard<std::mutex> guard(lock_);
    if (session.systems.size() >= kMostSystemsPerSession)
        Refuse(503, "busy", "a session defines at most " + std::to_string(kMostSystemsPerSession) + " systems");
    // Indices are not given back by the module: a free system of the same
    // library and prefix is taken again.
    for (const auto& entry : systems_)
        if (entry.second->owner.empty() && entry.second->library == library && entry.second->prefix == prefix) {
            entry.second->owner = session.id;
            return entry.second;
        }
    if (systems_.size() >= kMostSystems)
        Refuse(503, "busy", "the server has defined " + std::to_string(kMostSystems) +
                                " systems, as many as it keeps; a free one is taken again by a define of the same "
                                "library and prefix");
    return nullptr;
}

void SessionTable::AddSystem(Session& session, const std::shared_ptr<CallTarget>& system, bool fresh)
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (fresh)
            systems_[system->handle] = system;
        if (!session.closed) {
            session.systems.push_back(system);
            return;
        }
    }
    // The session was deleted while this define ran: nothing stays with it.
    CloseTarget(module_, *system);
    const std::lock_guard<std::mutex> guard(lock_);
    system->owner.clear();
    Refuse(404, "no_session", "no session " + session.id + ": it was deleted while the system was defined");
}

std::shared_ptr<CallTarget> SessionTable::FindSystem(Session& session, std::int32_t index)
{
    const std::lock_guard<std::mutex> guard(lock_);
    for (const auto& owned : session.systems)
        if (owned->handle == index)
            return owned;
    return nullptr;
}

void SessionTable::AddConnection(Session& session, const std::shared_ptr<CallTarget>& connection)
{
    std::string refusal;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (session.closed)
            refusal = "no session " + session.id + ": it was deleted while the connection was opened";
        else if (session.connections.size() >= kMostConnectionsPerSession)
            refusal = "a session opens at most " + std::to_string(kMostConnectionsPerSession) + " family connections";
        else {
            session.connections[{connection->family->name, connection->handle}] = connection;
            return;
        }
    }
    CloseTarget(module_, *connection);
    Refuse(session.closed ? 404 : 503, session.closed ? "no_session" : "busy", refusal);
}

std::shared_ptr<CallTarget> SessionTable::FindConnection(Session& session, const std::string& family, std::int32_t id)
{
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = session.connections.find({family, id});
    return found == session.connections.end() ? nullptr : found->second;
}

void SessionTable::DropConnection(Session& session, const std::string& family, std::int32_t id)
{
    const std::lock_guard<std::mutex> guard(lock_);
    session.connections.erase({family, id});
}

json SessionTable::Listing(Session& session)
{
    json systems = json::array(), connections = json::array();
    const std::lock_guard<std::mutex> guard(lock_);
    for (const auto& system : session.systems)
        systems.push_back(system->handle);
    for (const auto& entry : session.connections)
        connections.push_back({{"family", entry.first.first}, {"id", entry.first.second}});
    return {{"session", session.id}, {"lease_seconds", session.lease.count()}, {"systems", systems},
            {"connections", connections}};
}

} // namespace zelbridge::tool::serve
