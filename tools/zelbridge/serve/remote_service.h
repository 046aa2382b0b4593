// What `zelbridge serve` answers, apart from HTTP itself: sessions with
// their leases, the systems and family connections each session owns, and
// the calls on them, one at a time on each system.
#pragma once

#include "cli/bridge_module.h"
#include "served_operations.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace zelbridge::tool::serve {

// Bounds on what one request may ask for; beyond them the answer is 413.
inline constexpr std::size_t kLargestBody = 256 * 1024;
inline constexpr std::size_t kLongestText = 64 * 1024;
inline constexpr std::int32_t kLargestAnswer = 1 << 20;

struct ServiceOptions {
    // Folders or files from which a define may load a library named with a
    // path; a bare name is always looked for in the install folder.
    std::vector<std::string> allowedLibraries;
    std::chrono::milliseconds reapInterval{200};
};

struct HttpReply {
    int status = 200;
    std::string body; // JSON, or empty
};

class Log {
public:
    explicit Log(std::ostream& out) : out_(out) {}
    void Line(const std::string& text);

private:
    std::mutex lock_;
    std::ostream& out_;
};

class Service {
public:
    Service(const BridgeModule& bridge, ServiceOptions options, Log& log);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // One authenticated request; never throws.
    HttpReply Handle(const std::string& method, const std::string& target, const std::string& body);
    // Closes every session's connections, as when the server stops.
    void CloseAll();

    struct Slot;
    struct Session;

private:
    HttpReply Route(const std::string& method, const std::vector<std::string>& path, const std::string& body);
    std::shared_ptr<Session> Acquire(const std::string& id);
    void Release(Session& session);
    void CloseSession(const std::shared_ptr<Session>& session, const char* why);
    void ReapExpired();

    const BridgeModule& bridge_;
    const ServiceOptions options_;
    Log& log_;
    std::mutex lock_;
    std::map<std::string, std::shared_ptr<Session>> sessions_;
    // Systems defined so far by index, kept for reuse once their session ends.
    std::map<std::int32_t, std::shared_ptr<Slot>> systems_;
    std::map<std::string, std::mutex> familyLocks_;
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread reaper_;
};

} // namespace zelbridge::tool::serve
