// The routes of the service: each request's path and method, its session
// looked up and held while it runs, then the room that answers it.
#include "remote_service.h"

#include "json_shapes.h"
#include "module_calls.h"
#include "path_policy.h"
#include "sessions.h"

#include <algorithm>
#include <iterator>

namespace zelbridge::tool::serve {
namespace {

constexpr std::size_t kLongestPrefix = 64;

std::vector<std::string> SplitPath(const std::string& target)
{
    std::vector<std::string> parts;
    const std::string path = target.substr(0, target.find('?'));
    std::string::size_type start = 0;
    while (start < path.size()) {
        const std::string::size_type slash = path.find('/', start);
        const std::string::size_type end = slash == std::string::npos ? path.size() : slash;
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::int32_t PathNumber(const std::string& text, const char* what)
{
    std::int64_t value = 0;
    const bool digits = !text.empty() && text.size() <= 10 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits)
        value = std::stoll(text);
    if (!digits || value > INT32_MAX)
        Refuse(404, "not_found", std::string("no ") + what + " " + text);
    return static_cast<std::int32_t>(value);
}

bool IsSessionId(const std::string& step)
{
    return step.size() == 32 && std::all_of(step.begin(), step.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool IsRouteWord(const std::string& step)
{
    static const char* const words[] = {"v1", "openapi.json", "operations", "sessions", "systems",
                                        "families", "connections", "command", "answer", "query"};
    return std::any_of(std::begin(words), std::end(words), [&](const char* word) { return step == word; }) ||
           FindOperation(step) || FindFamily(step) ||
           (!step.empty() && step.size() <= 10 && std::all_of(step.begin(), step.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

} // namespace

std::string RedactedTarget(const std::string& target)
{
    std::string shown;
    for (const std::string& step : SplitPath(target))
        shown += "/" + (IsRouteWord(step) || IsSessionId(step) ? step : std::string("(hidden)"));
    if (target.find('?') != std::string::npos)
        shown += "?(hidden)";
    return shown.empty() ? "/" : shown;
}

void Log::Line(const std::string& text)
{
    const std::lock_guard<std::mutex> guard(lock_);
    out_ << "zelbridge serve: " << text << std::endl;
}

Service::Service(ModuleEntries& module, ServiceOptions options, Log& log)
    : module_(module), options_(std::move(options)), log_(log),
      paths_(std::make_unique<PathPolicy>(options_.allowedLibraries, options_.allowedData)),
      sessions_(std::make_unique<SessionTable>(module, log, options_.reapInterval))
{
}

Service::~Service() = default;

void Service::Stop()
{
    module_.Stop();
}

void Service::CloseAll()
{
    sessions_->CloseAll();
}

HttpReply Service::Handle(const std::string& method, const std::string& target, const std::string& body)
{
    try {
        return Route(method, SplitPath(target), body);
    } catch (const ApiError& error) {
        return ErrorReply(error);
    } catch (const std::exception& error) {
        log_.Line(method.substr(0, 16) + " " + RedactedTarget(target) + ": " + error.what());
        return ErrorReply({500, "internal", error.what()});
    }
}

HttpReply Service::Route(const std::string& method, const std::vector<std::string>& path, const std::string& body)
{
    const auto expect = [&](const char* wanted) {
        if (method != wanted)
            Refuse(405, "method_not_allowed", method + " is not allowed here; use " + wanted);
    };
    const std::size_t n = path.size();
    if (n == 1 && path[0] == "openapi.json") {
        expect("GET");
        return {200, ServedApiDocument()};
    }
    if (n < 2 || path[0] != "v1" || (path[1] != "sessions" && path[1] != "operations"))
        Refuse(404, "not_found", "no such route; GET /openapi.json describes them");
    if (path[1] == "operations") {
        if (n != 2)
            Refuse(404, "not_found", "no such route");
        expect("GET");
        return {200, OperationsListing()};
    }
    json request = ParseBody(body);
    if (n == 2) {
        expect("POST");
        const Fields fields(request, {"lease_seconds"});
        const std::shared_ptr<Session> session = sessions_->Open(
            std::chrono::seconds(fields.Integer("lease_seconds", kDefaultLeaseSeconds, 1, kLongestLeaseSeconds)));
        return Reply(201, {{"session", session->id}, {"lease_seconds", session->lease.count()}});
    }

    const SessionTable::Use session(*sessions_, sessions_->Acquire(path[2]));

    if (n == 3) {
        if (method == "DELETE") {
            sessions_->Close(session.Shared(), "deleted");
            return {204, ""};
        }
        expect("GET");
        Fields(request, {});
        return Reply(200, sessions_->Listing(*session));
    }

    if (path[3] == "systems") {
        if (n == 4) {
            expect("POST");
            const Fields fields(request, {"library", "prefix"});
            const std::string library = fields.Text("library");
            const std::string prefix = fields.Text("prefix");
            if (library.empty() || prefix.size() > kLongestPrefix)
                Refuse(400, "bad_request", "a define needs a library and a prefix of at most " + std::to_string(kLongestPrefix) + " characters");
            const std::string load = paths_->Library(library);
            std::shared_ptr<CallTarget> system = sessions_->TakeFreeSystem(*session, load, prefix);
            const bool fresh = !system;
            if (fresh) {
                const std::int32_t index = module_.DefineSystem(load.c_str(), prefix.c_str());
                if (index < 0)
                    throw ApiError{422, "driver_not_loaded",
                                   "cannot load the driver library " + library +
                                       "; `zelbridge check --driver " + library + " --prefix " + prefix +
                                       "` on the server looks for it as the loader does and names what is wrong",
                                   {{"call", "DefineSystem"}, {"code", -1}}};
                system = std::make_shared<CallTarget>();
                system->answers = AnswerLedger(options_.giveUpFactor);
                system->answerBound = options_.answerBound;
                system->handle = index;
                system->library = load;
                system->prefix = prefix;
                system->owner = session->id;
            }
            sessions_->AddSystem(*session, system, fresh);
            return Reply(201, {{"system", system->handle}});
        }
        const std::int32_t index = PathNumber(path[4], "system");
        const std::shared_ptr<CallTarget> system = sessions_->FindSystem(*session, index);
        if (!system || n != 6)
            Refuse(404, "not_found", "no system " + path[4] + " in this session");
        expect("POST");
        paths_->CheckFileArguments(path[5], request);
        return Exchange(module_, *system, path[5], request);
    }

    if (path[3] == "families" && n >= 5) {
        const FamilyOperations* family = FindFamily(path[4]);
        if (!family)
            Refuse(404, "not_found", "no family " + path[4]);
        if (n == 5) {
            expect("GET");
            Fields(request, {});
            const std::lock_guard<std::mutex> calls(sessions_->FamilyLock(family->name));
            return Reply(200, {{"family", family->name}, {"available", FamilyAvailable(module_, *family)}});
        }
        if (n == 6) {
            expect("POST");
            const Operation operation = ServedOperation(path[5], family);
            if (Describe(operation).kind == OperationKind::OnConnection)
                Refuse(400, "bad_request", path[5] + " works on a connection: POST .../families/" + family->name +
                                               "/connections/{id}/" + path[5]);
            paths_->CheckFileArguments(path[5], request);
            const Fields fields(request, {"arguments", "check"});
            json reply;
            {
                const std::lock_guard<std::mutex> calls(sessions_->FamilyLock(family->name));
                reply = CallUnbound(module_, *family, operation, fields.Array("arguments"), fields.Flag("check"));
            }
            if (Describe(operation).kind == OperationKind::Connect && reply["result"].is_number_integer() &&
                reply["result"].get<std::int32_t>() >= 0) {
                auto connection = std::make_shared<CallTarget>();
                connection->answers = AnswerLedger(options_.giveUpFactor);
                connection->answerBound = options_.answerBound;
                connection->family = family;
                connection->handle = reply["result"].get<std::int32_t>();
                connection->prefix = family->prefix;
                sessions_->AddConnection(*session, connection);
            }
            return Reply(200, reply);
        }
        if (n == 8 && path[5] == "connections") {
            const std::int32_t id = PathNumber(path[6], "connection");
            const std::shared_ptr<CallTarget> connection = sessions_->FindConnection(*session, family->name, id);
            if (!connection)
                Refuse(404, "not_found", "no " + std::string(family->name) + " connection " + path[6] + " in this session");
            expect("POST");
            paths_->CheckFileArguments(path[7], request);
            const HttpReply reply = Exchange(module_, *connection, path[7], request);
            if (path[7] == "CloseConnection")
                sessions_->DropConnection(*session, family->name, id);
            return reply;
        }
    }
    Refuse(404, "not_found", "no such route; GET /openapi.json describes them");
}

} // namespace zelbridge::tool::serve
