// Sessions, leases and calls. Each request names its session; the session
// owns the systems it defined and the family connections it opened, and a
// session that sends nothing within its lease, or is deleted, has them
// closed, so that a client that went away holds no port.
#include "remote_service.h"

#include "api_document.h"
#include "os/os_services.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <set>
#include <utility>

namespace zelbridge::tool::serve {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDefaultLeaseSeconds = 30;
constexpr int kLongestLeaseSeconds = 24 * 3600;
constexpr std::size_t kMostSessions = 64;
constexpr std::size_t kMostSystemsPerSession = 32;
constexpr std::int32_t kDefaultTimeoutMs = 5000;
constexpr std::int32_t kLongestTimeoutMs = 600000;
constexpr std::size_t kLongestPrefix = 64;
// Polling for an answer: at once, then after pauses that double up to the
// longest, as the Python package polls in process.
constexpr auto kFirstPause = std::chrono::microseconds(100);
constexpr auto kLongestPause = std::chrono::milliseconds(10);

// A request the service refuses, with the status and the body's kind.
struct ApiError {
    int status;
    std::string kind;
    std::string message;
    json details = json::object();
};

[[noreturn]] void Refuse(int status, const std::string& kind, const std::string& message)
{
    throw ApiError{status, kind, message};
}

std::string Dump(const json& value)
{
    // Driver texts are bytes in the system's code page; what is not UTF-8 is replaced.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

HttpReply Reply(int status, const json& body)
{
    return {status, Dump(body)};
}

HttpReply ErrorReply(const ApiError& error)
{
    json body = error.details;
    body["kind"] = error.kind;
    body["message"] = error.message;
    return Reply(error.status, json{{"error", body}});
}

// Strict JSON: one object, no comments, no key twice.
json ParseBody(const std::string& body)
{
    if (body.empty())
        return json::object();
    std::vector<std::set<std::string>> keys;
    std::string duplicate;
    const json::parser_callback_t watch = [&](int, json::parse_event_t event, json& parsed) {
        if (event == json::parse_event_t::object_start)
            keys.emplace_back();
        else if (event == json::parse_event_t::object_end && !keys.empty())
            keys.pop_back();
        else if (event == json::parse_event_t::key && !keys.empty() &&
                 !keys.back().insert(parsed.get<std::string>()).second && duplicate.empty())
            duplicate = parsed.get<std::string>();
        return true;
    };
    json value;
    try {
        value = json::parse(body, watch, true, false);
    } catch (const json::exception& error) {
        Refuse(400, "bad_request", std::string("the body is not valid JSON: ") + error.what());
    }
    if (!duplicate.empty())
        Refuse(400, "bad_request", "the body gives \"" + duplicate + "\" twice");
    if (!value.is_object())
        Refuse(400, "bad_request", "the body must be a JSON object");
    return value;
}

// The fields of a request body, each read once with its type checked.
class Fields {
public:
    Fields(const json& body, std::initializer_list<const char*> known) : body_(body)
    {
        for (const auto& field : body.items())
            if (std::none_of(known.begin(), known.end(), [&](const char* name) { return field.key() == name; }))
                Refuse(400, "bad_request", "unknown field \"" + field.key() + "\"");
    }

    bool Has(const char* name) const { return body_.contains(name); }

    std::int32_t Integer(const char* name, std::int32_t fallback, std::int64_t least, std::int64_t most) const
    {
        if (!Has(name))
            return fallback;
        return CheckedInteger(body_.at(name), name, least, most);
    }

    std::string Text(const char* name) const
    {
        if (!Has(name))
            Refuse(400, "bad_request", std::string("missing field \"") + name + "\"");
        return CheckedText(body_.at(name), name);
    }

    bool Flag(const char* name) const
    {
        if (!Has(name))
            return false;
        if (!body_.at(name).is_boolean())
            Refuse(400, "bad_request", std::string("\"") + name + "\" must be true or false");
        return body_.at(name).get<bool>();
    }

    const json& Array(const char* name) const
    {
        static const json empty = json::array();
        if (!Has(name))
            return empty;
        if (!body_.at(name).is_array())
            Refuse(400, "bad_request", std::string("\"") + name + "\" must be an array");
        return body_.at(name);
    }

    static std::int32_t CheckedInteger(const json& value, const std::string& name, std::int64_t least,
                                       std::int64_t most)
    {
        if (!value.is_number_integer())
            Refuse(400, "bad_request", name + " must be a whole number");
        const std::int64_t number = value.is_number_unsigned()
                                        ? static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(), INT64_MAX))
                                        : value.get<std::int64_t>();
        if (number < least || number > most)
            Refuse(400, "bad_request", name + " must be from " + std::to_string(least) + " to " + std::to_string(most));
        return static_cast<std::int32_t>(number);
    }

    static std::string CheckedText(const json& value, const std::string& name)
    {
        if (!value.is_string())
            Refuse(400, "bad_request", name + " must be a text");
        std::string text = value.get<std::string>();
        if (text.size() > kLongestText)
            Refuse(413, "too_large", name + " is longer than " + std::to_string(kLongestText) + " bytes");
        if (text.find('\0') != std::string::npos)
            Refuse(400, "bad_request", name + " holds a zero character");
        return text;
    }

private:
    const json& body_;
};

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

const char* KindName(ArgumentKind kind)
{
    switch (kind) {
    case ArgumentKind::Integer:
        return "integer";
    case ArgumentKind::Text:
        return "text";
    case ArgumentKind::Buffer:
        return "capacity";
    default:
        return nullptr;
    }
}

const char* OperationKindName(OperationKind kind)
{
    switch (kind) {
    case OperationKind::Connect:
        return "connect";
    case OperationKind::Unbound:
        return "unbound";
    case OperationKind::OnConnection:
        break;
    }
    return "on_connection";
}

// A served operation as a client sees it: what it gives and what it gets.
json DescribeServed(const std::string& name, const OperationDescription& description)
{
    json arguments = json::array();
    json outputs = json::array();
    for (unsigned i = 0; i < description.arguments.count; ++i) {
        const ArgumentKind kind = description.arguments.kinds[i];
        if (const char* given = KindName(kind))
            arguments.push_back(given);
        if (kind == ArgumentKind::Buffer)
            outputs.push_back("text");
        else if (kind == ArgumentKind::IntegerOut)
            outputs.push_back("integer");
    }
    return {{"name", name},
            {"kind", OperationKindName(description.kind)},
            {"arguments", arguments},
            {"outputs", outputs},
            {"result", description.result == EntryResult::NoResult ? "none" : "integer"}};
}

std::string OperationsListing()
{
    json generic = {{"served", json::array()}, {"not_served", json::array()}};
    for (unsigned i = 0; i < kOperationCount; ++i) {
        const OperationDescription& description = kOperations[i];
        if (const char* why = WhyNotServed(description))
            generic["not_served"].push_back({{"name", description.name}, {"reason", why}});
        else
            generic["served"].push_back(DescribeServed(description.name, description));
    }
    json families = json::array();
    for (const FamilyOperations& family : Families()) {
        json entry = {{"family", family.name}, {"served", json::array()}, {"not_served", json::array()}};
        for (const char* name : family.operations) {
            if (const char* why = WhyFamilyOperationNotServed(name))
                entry["not_served"].push_back({{"name", name}, {"reason", why}});
            else
                entry["served"].push_back(DescribeServed(name, Describe(*FindOperation(name))));
        }
        families.push_back(entry);
    }
    return Dump({{"generic", generic}, {"families", families}});
}

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

bool NamesAPath(const std::string& name)
{
    return name.find_first_of(":\\/") != std::string::npos;
}

bool IsAbsolute(const std::string& name)
{
#if defined(_WIN32)
    const bool drive = name.size() > 2 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
    return drive || name.rfind("\\\\", 0) == 0 || name.rfind("//", 0) == 0;
#else
    return !name.empty() && name[0] == '/';
#endif
}

bool SameText(const std::string& a, const std::string& b)
{
#if defined(_WIN32)
    // Windows file names compare without case, and either slash separates.
    const auto fold = [](char c) { return c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
#else
    return a == b;
#endif
}

bool HasParentStep(const std::string& name)
{
    std::string step;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (step == "..")
                return true;
            step.clear();
        } else {
            step += name[i];
        }
    }
    return false;
}

// A bare name loads from the install folder, as DefineSystem looks it up; a
// name with a path only from a place the operator allowed.
void CheckLibraryAllowed(const std::string& library, const std::vector<std::string>& allowed)
{
    if (!NamesAPath(library))
        return;
    if (!IsAbsolute(library) || HasParentStep(library))
        Refuse(403, "forbidden",
               "a driver library is named by its file name alone (loaded from the install folder) or by an "
               "absolute path without '..': " + library);
    for (const std::string& place : allowed) {
        if (SameText(library, place))
            return;
        const std::string::size_type length = place.size();
        const bool endsWithSeparator = length > 0 && (place.back() == '/' || place.back() == '\\');
        const std::string folder = endsWithSeparator ? place : place + '/';
        if (library.size() > folder.size() && SameText(library.substr(0, folder.size() - 1), folder.substr(0, folder.size() - 1)) &&
            (library[folder.size() - 1] == '/' || library[folder.size() - 1] == '\\'))
            return;
    }
    Refuse(403, "forbidden",
           "the server does not load libraries from " + library +
               ": name the library alone to load it from the install folder, or ask the server's operator to "
               "allow its folder with --allow-library");
}

} // namespace

void Log::Line(const std::string& text)
{
    const std::lock_guard<std::mutex> guard(lock_);
    out_ << "zelbridge serve: " << text << std::endl;
}

// A defined system, or a family connection: where calls go, one at a time.
struct Service::Slot {
    std::mutex calls;
    // Null for a defined system.
    const FamilyOperations* family = nullptr;
    // The system's index, or the family connection's identifier.
    std::int32_t handle = -1;
    std::string library;
    std::string prefix;
    // The session that owns a system; empty once it is free for reuse.
    std::string owner;
    // Whether GetError is asked after a failure: SetErrorCheck's last word.
    bool errorCheck = true;
    // Queries that timed out, whose answers may still come.
    std::deque<std::string> late;
};

struct Service::Session {
    std::string id;
    std::chrono::seconds lease{kDefaultLeaseSeconds};
    Clock::time_point lastSeen = Clock::now();
    int inFlight = 0;
    bool closed = false;
    std::vector<std::shared_ptr<Slot>> systems;
    std::map<std::pair<std::string, std::int32_t>, std::shared_ptr<Slot>> connections;
};

namespace {

// The calls on one slot, its lock held by the caller.
class Calls {
public:
    Calls(const BridgeModule& bridge, Service::Slot& slot) : bridge_(bridge), slot_(slot) {}

    platform::ProcAddress Entry(Operation operation) const
    {
        const std::string name = std::string(slot_.family ? slot_.family->prefix : "") + kOperationNames[static_cast<unsigned>(operation)];
        return bridge_.Export(name.c_str());
    }

    // The words after the index (systems) or the connection identifier.
    std::int32_t Call(Operation operation, std::vector<Word> words, std::int32_t handle) const
    {
        const bool takesHandle = !slot_.family || Describe(operation).kind == OperationKind::OnConnection;
        if (takesHandle)
            words.insert(words.begin(), handle);
        const platform::ProcAddress function = Entry(operation);
        if (!function || words.size() > kMaxOperationArguments)
            Refuse(500, "internal", std::string("Zelbridge does not export ") + kOperationNames[static_cast<unsigned>(operation)]);
        return CallWithWords(function, words.data(), static_cast<unsigned>(words.size()));
    }

    std::int32_t Call(Operation operation, std::vector<Word> words) const
    {
        return Call(operation, std::move(words), slot_.handle);
    }

    // GetError, asked only once a result reports a failure, and never with
    // error checking off, as the Python package asks it.
    std::int32_t PendingError(std::int32_t handle) const
    {
        return slot_.errorCheck ? Call(Operation::GetError, {}, handle) : 0;
    }

    // Raises the failure a result reports (a negative one for a connect,
    // any but 0 for the rest), with the code GetError gives for it.
    void Check(const std::string& call, Operation operation, std::int32_t result, std::int32_t handle) const
    {
        const bool failed = Describe(operation).kind == OperationKind::Connect ? result < 0 : result != 0;
        if (!failed)
            return;
        const std::int32_t pending = PendingError(handle);
        Fail(call, operation, pending != 0 ? pending : result);
    }

    void Check(const std::string& call, Operation operation, std::int32_t result) const
    {
        Check(call, operation, result, slot_.handle);
    }

    [[noreturn]] void Fail(const std::string& call, Operation operation, std::int32_t code) const
    {
        ApiError error{422, "driver_error", "", {{"call", call}, {"code", code}}};
        if (code == FUNCTION_NOT_AVAILABLE) {
            error.kind = "function_not_available";
            error.details["text"] = FunctionMissing(operation);
        } else {
            error.details["text"] = Translate(code);
        }
        const std::string text = error.details["text"].get<std::string>();
        error.message = call + ": error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
        throw error;
    }

    std::string Translate(std::int32_t code) const
    {
        std::vector<char> text(4096, '\0');
        const std::int32_t result =
            Call(Operation::TranslateError, {code, reinterpret_cast<Word>(text.data()), static_cast<Word>(text.size())});
        text.back() = '\0';
        // A driver without TranslateError returns 0 with the text empty and
        // leaves FUNCTION_NOT_AVAILABLE pending, not to be blamed on the next call.
        if (result == 0 && text[0] == '\0')
            PendingError(slot_.handle);
        return text.data();
    }

    std::string FunctionMissing(Operation operation) const
    {
        const std::string name = kOperationNames[static_cast<unsigned>(operation)];
        if (slot_.family) {
            const std::string check = std::string(slot_.family->prefix) + "IsDLLAvailable";
            const auto available = reinterpret_cast<int(ZELBRIDGE_STDCALL*)()>(bridge_.Export(check.c_str()));
            if (available && available() != 1)
                return std::string("the ") + slot_.family->name + " family library " + slot_.family->prefix +
                       "ZEL_DLL.DLL cannot be used; `zelbridge check --family " + slot_.family->name + "` says why";
            return "function not available: " + std::string(slot_.family->prefix) + name;
        }
        const std::string functions =
            operation == Operation::Connect ? slot_.prefix + "ConnectPciBoard or " + slot_.prefix + "Connect" : slot_.prefix + name;
        return "function not available: " + slot_.library + " does not export " + functions +
               "; is the prefix right? `zelbridge check --driver " + slot_.library + " --prefix " + slot_.prefix +
               "` lists what it exports";
    }

    // Whether an answer is ready; its size is left in `size`.
    bool AnswerReady(std::int32_t& size) const
    {
        size = 0;
        const std::int32_t result = Call(Operation::ZelGetAnswerSize, {reinterpret_cast<Word>(&size)});
        Check("ZelGetAnswerSize", Operation::ZelGetAnswerSize, result);
        return size > 0;
    }

    std::string TakeAnswer(std::int32_t size) const
    {
        if (size > kLargestAnswer)
            throw ApiError{422, "driver_error",
                           "the driver announces an answer of " + std::to_string(size) + " bytes, more than the server takes",
                           {{"call", "ZelGetAnswerSize"}}};
        // One byte more than announced, whether or not the driver counted
        // the terminating zero; the last byte stays zero whatever it writes.
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
        const std::int32_t result =
            Call(Operation::ZelGetAnswer, {reinterpret_cast<Word>(buffer.data()), static_cast<Word>(buffer.size())});
        Check("ZelGetAnswer", Operation::ZelGetAnswer, result);
        buffer.back() = '\0';
        // A missing ZelGetAnswer returns 0 and leaves the buffer as it was.
        if (size > 1 && buffer[0] == '\0')
            if (const std::int32_t code = PendingError(slot_.handle))
                Fail("ZelGetAnswer", Operation::ZelGetAnswer, code);
        std::string answer = buffer.data();
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        return answer;
    }

    // Waits up to `timeoutMs` for the next answer.
    std::string Answer(std::int32_t timeoutMs, const std::string& call) const
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        Clock::duration pause = kFirstPause;
        std::int32_t size = 0;
        while (!AnswerReady(size)) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                // A missing ZelGetAnswerSize, too, reports no answer.
                if (const std::int32_t code = PendingError(slot_.handle))
                    Fail("ZelGetAnswerSize", Operation::ZelGetAnswerSize, code);
                throw ApiError{422, "answer_timeout", "no answer within " + std::to_string(timeoutMs) + " ms",
                               {{"call", call}}};
            }
            std::this_thread::sleep_for(std::min(pause, deadline - now));
            pause = std::min<Clock::duration>(pause * 2, kLongestPause);
        }
        return TakeAnswer(size);
    }

    // The answers that came for queries given up on, oldest first; those
    // queries are forgotten: a later answer cannot be told from the next
    // query's.
    json SetAsideLateAnswers() const
    {
        json late = json::array();
        for (; !slot_.late.empty(); slot_.late.pop_front()) {
            std::int32_t size = 0;
            const bool ready = AnswerReady(size);
            late.push_back({{"query", slot_.late.front()}, {"answer", ready ? json(TakeAnswer(size)) : json(nullptr)}});
        }
        return late;
    }

    void Command(const std::string& command) const
    {
        const std::int32_t result = Call(Operation::ZelCommandset, {reinterpret_cast<Word>(command.c_str())});
        Check(Named("ZelCommandset", command), Operation::ZelCommandset, result);
    }

    // A long command is named by its start.
    static std::string Named(const char* call, const std::string& command)
    {
        constexpr std::size_t kNamed = 80;
        return std::string(call) + "(" + command.substr(0, kNamed) + (command.size() > kNamed ? "...)" : ")");
    }

    // One operation with the client's arguments: integers and texts as
    // given, a capacity for each buffer the driver writes.
    json Raw(Operation operation, const json& given, bool check, std::int32_t handle) const
    {
        const OperationDescription& description = Describe(operation);
        std::vector<Word> words;
        std::vector<std::string> texts;
        std::vector<std::vector<char>> buffers;
        std::vector<std::int32_t> integersOut;
        texts.reserve(kMaxOperationArguments);
        buffers.reserve(kMaxOperationArguments);
        integersOut.reserve(kMaxOperationArguments);
        std::size_t next = 0;
        const auto argument = [&](const char* what) -> const json& {
            if (next >= given.size())
                Refuse(400, "bad_request", std::string(description.name) + " takes " + what + " as argument " + std::to_string(next + 1));
            return given[next++];
        };
        for (unsigned i = 0; i < description.arguments.count; ++i) {
            const std::string name = std::string(description.name) + " argument " + std::to_string(next + 1);
            switch (description.arguments.kinds[i]) {
            case ArgumentKind::Integer:
                words.push_back(Fields::CheckedInteger(argument("an integer"), name, INT32_MIN, INT32_MAX));
                break;
            case ArgumentKind::Text:
                texts.push_back(Fields::CheckedText(argument("a text"), name));
                words.push_back(reinterpret_cast<Word>(texts.back().c_str()));
                break;
            case ArgumentKind::Buffer:
                buffers.emplace_back(static_cast<std::size_t>(Fields::CheckedInteger(argument("a capacity"), name, 1, kLargestAnswer)), '\0');
                words.push_back(reinterpret_cast<Word>(buffers.back().data()));
                break;
            case ArgumentKind::Capacity:
                words.push_back(static_cast<Word>(buffers.back().size()));
                break;
            case ArgumentKind::IntegerOut:
                integersOut.push_back(0);
                words.push_back(reinterpret_cast<Word>(&integersOut.back()));
                break;
            case ArgumentKind::Opaque:
                Refuse(501, "not_served", std::string(description.name) + " is not served");
            }
        }
        if (next != given.size())
            Refuse(400, "bad_request", std::string(description.name) + " takes " + std::to_string(next) + " arguments, not " + std::to_string(given.size()));
        const std::int32_t result = Call(operation, words, handle);
        json outputs = json::array();
        std::size_t buffer = 0, integer = 0;
        for (unsigned i = 0; i < description.arguments.count; ++i) {
            if (description.arguments.kinds[i] == ArgumentKind::Buffer) {
                buffers[buffer].back() = '\0';
                outputs.push_back(std::string(buffers[buffer++].data()));
            } else if (description.arguments.kinds[i] == ArgumentKind::IntegerOut) {
                outputs.push_back(integersOut[integer++]);
            }
        }
        const bool connect = description.kind == OperationKind::Connect;
        // A new connection checks errors, whatever the last one did.
        if (connect)
            slot_.errorCheck = true;
        if (check) {
            // A failed family connect has no identifier yet: its error is the driver's -1.
            Check(description.name, operation, result, slot_.family && connect ? (result >= 0 ? result : -1) : handle);
        }
        if (operation == Operation::SetErrorCheck && result == 0)
            slot_.errorCheck = words.back() != 0;
        return {{"result", description.result == EntryResult::NoResult ? json(nullptr) : json(result)}, {"outputs", outputs}};
    }

private:
    const BridgeModule& bridge_;
    Service::Slot& slot_;
};

// The operations a client may name on a system, or on a family's route.
json ServedNames(const FamilyOperations* family)
{
    json names = json::array();
    if (family) {
        for (const char* name : family->operations)
            if (!WhyFamilyOperationNotServed(name))
                names.push_back(name);
        return names;
    }
    for (unsigned i = 0; i < kOperationCount; ++i)
        if (!WhyNotServed(kOperations[i]))
            names.push_back(kOperations[i].name);
    return names;
}

// The operation a client named, looked up before anything is asked of it.
Operation ServedOperation(const std::string& name, const FamilyOperations* family)
{
    const std::optional<Operation> operation = FindOperation(name);
    const bool listed = !family || std::any_of(family->operations.begin(), family->operations.end(),
                                               [&](const char* n) { return name == n; });
    if (!operation && (!listed || !family))
        throw ApiError{404, "not_found",
                       (family ? std::string("the ") + family->name + " family has no operation " : std::string("no operation ")) +
                           name + "; \"operations\" lists those served here",
                       {{"operations", ServedNames(family)}}};
    if (!listed)
        Refuse(404, "not_exported", std::string("the ") + family->name + " family has no " + name);
    const char* why = family ? WhyFamilyOperationNotServed(name) : WhyNotServed(Describe(*operation));
    // A family's call that the table does not describe has a reason here too.
    if (why || !operation)
        Refuse(501, "not_served", name + " is not served: " + (why ? why : "") + "; GET /v1/operations lists what is");
    return *operation;
}

} // namespace

Service::Service(const BridgeModule& bridge, ServiceOptions options, Log& log)
    : bridge_(bridge), options_(std::move(options)), log_(log)
{
    for (const FamilyOperations& family : Families())
        familyLocks_[family.name];
    reaper_ = std::thread([this] {
        std::unique_lock<std::mutex> guard(lock_);
        while (!stopping_) {
            wake_.wait_for(guard, options_.reapInterval);
            guard.unlock();
            ReapExpired();
            guard.lock();
        }
    });
}

Service::~Service()
{
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    reaper_.join();
    CloseAll();
}

HttpReply Service::Handle(const std::string& method, const std::string& target, const std::string& body)
{
    try {
        return Route(method, SplitPath(target), body);
    } catch (const ApiError& error) {
        return ErrorReply(error);
    } catch (const std::exception& error) {
        log_.Line(method + " " + target + ": " + error.what());
        return ErrorReply({500, "internal", error.what()});
    }
}

std::shared_ptr<Service::Session> Service::Acquire(const std::string& id)
{
    const std::lock_guard<std::mutex> guard(lock_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end())
        Refuse(404, "no_session", "no session " + id + ": it was deleted, or its lease ran out");
    found->second->inFlight++;
    found->second->lastSeen = Clock::now();
    return found->second;
}

void Service::Release(Session& session)
{
    const std::lock_guard<std::mutex> guard(lock_);
    session.inFlight--;
    session.lastSeen = Clock::now();
}

void Service::CloseSession(const std::shared_ptr<Session>& session, const char* why)
{
    std::vector<std::shared_ptr<Slot>> systems;
    std::map<std::pair<std::string, std::int32_t>, std::shared_ptr<Slot>> connections;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (session->closed)
            return;
        session->closed = true;
        sessions_.erase(session->id);
        systems.swap(session->systems);
        connections.swap(session->connections);
    }
    for (const std::shared_ptr<Slot>& slot : systems) {
        const std::lock_guard<std::mutex> calls(slot->calls);
        const Calls on(bridge_, *slot);
        on.Call(Operation::CloseConnection, {});
        on.Call(Operation::GetError, {});
        const std::lock_guard<std::mutex> guard(lock_);
        slot->owner.clear();
    }
    for (const auto& connection : connections) {
        const std::lock_guard<std::mutex> calls(connection.second->calls);
        Calls(bridge_, *connection.second).Call(Operation::CloseConnection, {});
    }
    log_.Line("session " + session->id + " " + why + ": " + std::to_string(systems.size()) + " systems and " +
              std::to_string(connections.size()) + " family connections closed");
}

void Service::ReapExpired()
{
    std::vector<std::shared_ptr<Session>> expired;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const Clock::time_point now = Clock::now();
        for (const auto& entry : sessions_)
            if (entry.second->inFlight == 0 && now - entry.second->lastSeen > entry.second->lease)
                expired.push_back(entry.second);
    }
    for (const std::shared_ptr<Session>& session : expired)
        CloseSession(session, "expired");
}

void Service::CloseAll()
{
    std::vector<std::shared_ptr<Session>> all;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        for (const auto& entry : sessions_)
            all.push_back(entry.second);
    }
    for (const std::shared_ptr<Session>& session : all)
        CloseSession(session, "ended with the server");
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
        return {200, kApiDocument};
    }
    if (n < 2 || path[0] != "v1" || (path[1] != "sessions" && path[1] != "operations"))
        Refuse(404, "not_found", "no such route; GET /openapi.json describes them");
    if (path[1] == "operations") {
        if (n != 2)
            Refuse(404, "not_found", "no such route");
        expect("GET");
        static const std::string listing = OperationsListing();
        return {200, listing};
    }
    const json request = ParseBody(body);
    if (n == 2) {
        expect("POST");
        const Fields fields(request, {"lease_seconds"});
        auto session = std::make_shared<Session>();
        session->id = NewIdentifier();
        session->lease = std::chrono::seconds(fields.Integer("lease_seconds", kDefaultLeaseSeconds, 1, kLongestLeaseSeconds));
        {
            const std::lock_guard<std::mutex> guard(lock_);
            if (sessions_.size() >= kMostSessions)
                Refuse(503, "busy", "the server has " + std::to_string(kMostSessions) + " sessions open");
            sessions_[session->id] = session;
        }
        log_.Line("session " + session->id + " opened, lease " + std::to_string(session->lease.count()) + " s");
        return Reply(201, {{"session", session->id}, {"lease_seconds", session->lease.count()}});
    }

    const std::shared_ptr<Session> session = Acquire(path[2]);
    struct Releaser {
        Service& service;
        Session& session;
        ~Releaser() { service.Release(session); }
    } releaser{*this, *session};

    if (n == 3) {
        if (method == "DELETE") {
            CloseSession(session, "deleted");
            return {204, ""};
        }
        expect("GET");
        Fields(request, {});
        json systems = json::array(), connections = json::array();
        {
            const std::lock_guard<std::mutex> guard(lock_);
            for (const auto& slot : session->systems)
                systems.push_back(slot->handle);
            for (const auto& entry : session->connections)
                connections.push_back({{"family", entry.first.first}, {"id", entry.first.second}});
        }
        return Reply(200, {{"session", session->id}, {"lease_seconds", session->lease.count()}, {"systems", systems},
                           {"connections", connections}});
    }

    // The checked exchanges on a system or a connection, else one operation.
    const auto exchange = [&](Slot& slot, const std::string& what, const FamilyOperations* family) -> HttpReply {
        expect("POST");
        const std::lock_guard<std::mutex> calls(slot.calls);
        const Calls on(bridge_, slot);
        if (what == "command") {
            const Fields fields(request, {"command"});
            on.Command(fields.Text("command"));
            return Reply(200, json::object());
        }
        if (what == "answer") {
            const Fields fields(request, {"timeout_ms"});
            const std::string answer = on.Answer(fields.Integer("timeout_ms", kDefaultTimeoutMs, 0, kLongestTimeoutMs), "read");
            if (!slot.late.empty())
                slot.late.pop_front();
            return Reply(200, {{"answer", answer}});
        }
        if (what == "query") {
            const Fields fields(request, {"command", "timeout_ms"});
            const std::int32_t timeout = fields.Integer("timeout_ms", kDefaultTimeoutMs, 0, kLongestTimeoutMs);
            const std::string command = fields.Text("command");
            json reply = {{"late_answers", on.SetAsideLateAnswers()}};
            on.Command(command);
            try {
                reply["answer"] = on.Answer(timeout, Calls::Named("query", command));
            } catch (const ApiError& error) {
                if (error.kind == "answer_timeout")
                    slot.late.push_back(command);
                throw;
            }
            if (reply["late_answers"].empty())
                reply.erase("late_answers");
            return Reply(200, reply);
        }
        const Operation operation = ServedOperation(what, family);
        if (family && Describe(operation).kind != OperationKind::OnConnection)
            Refuse(400, "bad_request", what + " takes no connection: POST .../families/" + family->name + "/" + what);
        const Fields fields(request, {"arguments", "check"});
        return Reply(200, on.Raw(operation, fields.Array("arguments"), fields.Flag("check"), slot.handle));
    };

    if (path[3] == "systems") {
        if (n == 4) {
            expect("POST");
            const Fields fields(request, {"library", "prefix"});
            const std::string library = fields.Text("library");
            const std::string prefix = fields.Text("prefix");
            if (library.empty() || prefix.size() > kLongestPrefix)
                Refuse(400, "bad_request", "a define needs a library and a prefix of at most " + std::to_string(kLongestPrefix) + " characters");
            CheckLibraryAllowed(library, options_.allowedLibraries);
            std::shared_ptr<Slot> slot;
            {
                const std::lock_guard<std::mutex> guard(lock_);
                if (session->systems.size() >= kMostSystemsPerSession)
                    Refuse(503, "busy", "a session defines at most " + std::to_string(kMostSystemsPerSession) + " systems");
                // Indices are not given back by the module: a free system
                // of the same library and prefix is taken again.
                for (const auto& entry : systems_)
                    if (entry.second->owner.empty() && entry.second->library == library && entry.second->prefix == prefix) {
                        slot = entry.second;
                        slot->owner = session->id;
                        break;
                    }
            }
            if (!slot) {
                const std::int32_t index = bridge_.DefineSystem(library.c_str(), prefix.c_str());
                if (index < 0)
                    throw ApiError{422, "driver_not_loaded",
                                   "cannot load the driver library " + library +
                                       "; `zelbridge check --driver " + library + " --prefix " + prefix +
                                       "` on the server looks for it as the loader does and names what is wrong",
                                   {{"call", "DefineSystem"}, {"code", -1}}};
                slot = std::make_shared<Slot>();
                slot->handle = index;
                slot->library = library;
                slot->prefix = prefix;
                slot->owner = session->id;
                const std::lock_guard<std::mutex> guard(lock_);
                systems_[index] = slot;
            }
            {
                const std::lock_guard<std::mutex> guard(lock_);
                session->systems.push_back(slot);
            }
            return Reply(201, {{"system", slot->handle}});
        }
        const std::int32_t index = PathNumber(path[4], "system");
        std::shared_ptr<Slot> slot;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            for (const auto& owned : session->systems)
                if (owned->handle == index)
                    slot = owned;
        }
        if (!slot || n != 6)
            Refuse(404, "not_found", "no system " + path[4] + " in this session");
        return exchange(*slot, path[5], nullptr);
    }

    if (path[3] == "families" && n >= 5) {
        const FamilyOperations* family = FindFamily(path[4]);
        if (!family)
            Refuse(404, "not_found", "no family " + path[4]);
        if (n == 5) {
            expect("GET");
            Fields(request, {});
            const std::string check = std::string(family->prefix) + "IsDLLAvailable";
            const auto available = reinterpret_cast<int(ZELBRIDGE_STDCALL*)()>(bridge_.Export(check.c_str()));
            std::lock_guard<std::mutex> calls(familyLocks_.at(family->name));
            return Reply(200, {{"family", family->name}, {"available", available && available() == 1}});
        }
        if (n == 6) {
            expect("POST");
            const Operation operation = ServedOperation(path[5], family);
            if (Describe(operation).kind == OperationKind::OnConnection)
                Refuse(400, "bad_request", path[5] + " works on a connection: POST .../families/" + family->name +
                                               "/connections/{id}/" + path[5]);
            const Fields fields(request, {"arguments", "check"});
            Slot unbound;
            unbound.family = family;
            json reply;
            {
                std::lock_guard<std::mutex> calls(familyLocks_.at(family->name));
                reply = Calls(bridge_, unbound).Raw(operation, fields.Array("arguments"), fields.Flag("check"), -1);
            }
            if (Describe(operation).kind == OperationKind::Connect && reply["result"].is_number_integer() &&
                reply["result"].get<std::int32_t>() >= 0) {
                auto slot = std::make_shared<Slot>();
                slot->family = family;
                slot->handle = reply["result"].get<std::int32_t>();
                slot->prefix = family->prefix;
                const std::lock_guard<std::mutex> guard(lock_);
                session->connections[{family->name, slot->handle}] = slot;
            }
            return Reply(200, reply);
        }
        if (n == 8 && path[5] == "connections") {
            const std::int32_t id = PathNumber(path[6], "connection");
            std::shared_ptr<Slot> slot;
            {
                const std::lock_guard<std::mutex> guard(lock_);
                const auto found = session->connections.find({family->name, id});
                if (found != session->connections.end())
                    slot = found->second;
            }
            if (!slot)
                Refuse(404, "not_found", "no " + std::string(family->name) + " connection " + path[6] + " in this session");
            const HttpReply reply = exchange(*slot, path[7], family);
            if (path[7] == "CloseConnection") {
                const std::lock_guard<std::mutex> guard(lock_);
                session->connections.erase({family->name, id});
            }
            return reply;
        }
    }
    Refuse(404, "not_found", "no such route; GET /openapi.json describes them");
}

} // namespace zelbridge::tool::serve
