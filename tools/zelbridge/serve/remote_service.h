// What `zelbridge serve` answers, apart from HTTP itself: sessions with
// their leases, the systems and family connections each session owns, and
// the calls on them, one at a time on each system. The rooms: routes.cpp
// (routing), json_shapes (bodies), sessions (sessions and leases),
// path_policy (which files a request may name), module_calls (the calls
// into the module); http_server holds the transport and its limits.
#pragma once

#include "cli/answer_bound.h"
#include "cli/answer_ledger.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
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
    // Folders whose files a request may have a driver open (the simulator's
    // descriptions and recordings); none unless the operator gives one.
    std::vector<std::string> allowedData;
    std::chrono::milliseconds reapInterval{200};
    // --answer-bound and --give-up-factor, as send and shell take them.
    std::size_t answerBound = kAnswerBound;
    double giveUpFactor = kGiveUpFactor;
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

class ModuleEntries;
class PathPolicy;
class SessionTable;

// A request's target as a log line may show it: no query, and no path
// step that is not a word of the routes, a number or a session id, since a
// client may put its token anywhere.
std::string RedactedTarget(const std::string& target);

class Service {
public:
    Service(ModuleEntries& module, ServiceOptions options, Log& log);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // One authenticated request; never throws.
    HttpReply Handle(const std::string& method, const std::string& target, const std::string& body);
    // Ends every answer wait at once, as when the server stops.
    void Stop();
    // Closes every session's connections, as when the server stops.
    void CloseAll();

private:
    HttpReply Route(const std::string& method, const std::vector<std::string>& path, const std::string& body);

    ModuleEntries& module_;
    const ServiceOptions options_;
    Log& log_;
    std::unique_ptr<PathPolicy> paths_;
    std::unique_ptr<SessionTable> sessions_;
};

} // namespace zelbridge::tool::serve
