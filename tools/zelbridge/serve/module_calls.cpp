// The calls into the module: each entry point reached through the word
// list, each failure turned into the driver's code and text, and answers
// polled for until they come or the wait ends.
#include "module_calls.h"

#include "cli/query_rule.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace zelbridge::tool::serve {
namespace {

constexpr std::int32_t kDefaultTimeoutMs = 5000;
constexpr std::int32_t kLongestTimeoutMs = 600000;
// Polling for an answer: at once, then after pauses that double up to the
// longest, as the Python package polls in process.
constexpr PollPauses kPauses{std::chrono::microseconds(100), std::chrono::milliseconds(10)};

struct TakenAnswer {
    std::string text;
    std::size_t cutBytes = 0;
};

// An answer set aside for the query it belongs to (null: an earlier command).
json SetAside(const AnswerLedger::Owed* owed, const TakenAnswer& answer)
{
    json entry = {{"query", owed ? json(owed->query) : json(nullptr)}, {"answer", answer.text},
                  {"late", owed && owed->late}};
    if (answer.cutBytes)
        entry["cut_bytes"] = answer.cutBytes;
    return entry;
}

json Answered(const TakenAnswer& answer, json late)
{
    json reply = {{"answer", answer.text}};
    if (answer.cutBytes)
        reply["cut_bytes"] = answer.cutBytes;
    if (!late.empty())
        reply["late_answers"] = std::move(late);
    return reply;
}

// 409 once the target is out of step, naming the query whose answer never came.
[[noreturn]] void OutOfStep(const CallTarget& target, const std::string& call, json late)
{
    const AnswerLedger::Owed& missing = *target.answers.Missing();
    throw ApiError{409, "answers_out_of_step",
                   call + ": " + target.answers.OutOfStepText() + "; POST .../clear drops the answers owed",
                   {{"call", call}, {"query", missing.query}, {"late_answers", std::move(late)}}};
}

// The calls on one target, its lock held by the caller.
class TargetCalls {
public:
    TargetCalls(const ModuleEntries& module, CallTarget& target) : module_(module), target_(target) {}

    platform::ProcAddress Entry(Operation operation) const
    {
        const std::string name = std::string(target_.family ? target_.family->prefix : "") + kOperationNames[static_cast<unsigned>(operation)];
        return module_.Export(name.c_str());
    }

    // The words after the index (systems) or the connection identifier.
    std::int32_t Call(Operation operation, std::vector<Word> words, std::int32_t handle) const
    {
        const bool takesHandle = !target_.family || Describe(operation).kind == OperationKind::OnConnection;
        if (takesHandle)
            words.insert(words.begin(), handle);
        const platform::ProcAddress function = Entry(operation);
        if (!function || words.size() > kMaxOperationArguments)
            Refuse(500, "internal", std::string("Zelbridge does not export ") + kOperationNames[static_cast<unsigned>(operation)]);
        return CallWithWords(function, words.data(), static_cast<unsigned>(words.size()));
    }

    std::int32_t Call(Operation operation, std::vector<Word> words) const
    {
        return Call(operation, std::move(words), target_.handle);
    }

    // GetError, asked only once a result reports a failure, and never with
    // error checking off, as the Python package asks it.
    std::int32_t PendingError(std::int32_t handle) const
    {
        return target_.errorCheck ? Call(Operation::GetError, {}, handle) : 0;
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
        Check(call, operation, result, target_.handle);
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
            PendingError(target_.handle);
        return text.data();
    }

    std::string FunctionMissing(Operation operation) const
    {
        const std::string name = kOperationNames[static_cast<unsigned>(operation)];
        if (target_.family) {
            const std::string check = std::string(target_.family->prefix) + "IsDLLAvailable";
            const auto available = reinterpret_cast<int(ZELBRIDGE_STDCALL*)()>(module_.Export(check.c_str()));
            if (available && available() != 1)
                return std::string("the ") + target_.family->name + " family library " + target_.family->prefix +
                       "ZEL_DLL.DLL cannot be used; `zelbridge check --family " + target_.family->name + "` says why";
            return "function not available: " + std::string(target_.family->prefix) + name;
        }
        const std::string functions =
            operation == Operation::Connect ? target_.prefix + "ConnectPciBoard or " + target_.prefix + "Connect" : target_.prefix + name;
        return "function not available: " + target_.library + " does not export " + functions +
               "; is the prefix right? `zelbridge check --driver " + target_.library + " --prefix " + target_.prefix +
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

    // The answer announced, read in full (a driver keeps one that does not
    // fit and would hand it out again in place of the next); what is over
    // the target's bound is cut and counted.
    TakenAnswer TakeAnswer(std::int32_t size) const
    {
        // One byte more than announced, whether or not the driver counted
        // the terminating zero; the last byte stays zero whatever it writes.
        std::vector<char> buffer;
        try {
            buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
        } catch (const std::bad_alloc&) {
            throw ApiError{422, "driver_error",
                           "the driver announces an answer of " + std::to_string(size) + " bytes, more than there is memory for",
                           {{"call", "ZelGetAnswerSize"}}};
        }
        const std::int32_t result =
            Call(Operation::ZelGetAnswer, {reinterpret_cast<Word>(buffer.data()), static_cast<Word>(buffer.size())});
        Check("ZelGetAnswer", Operation::ZelGetAnswer, result);
        buffer.back() = '\0';
        // A missing ZelGetAnswer returns 0 and leaves the buffer as it was.
        if (size > 1 && buffer[0] == '\0')
            if (const std::int32_t code = PendingError(target_.handle))
                Fail("ZelGetAnswer", Operation::ZelGetAnswer, code);
        TakenAnswer answer{buffer.data(), 0};
        if (answer.text.size() > target_.answerBound) {
            answer.cutBytes = answer.text.size() - target_.answerBound;
            answer.text.resize(target_.answerBound);
        }
        answer.text = TrimmedAnswer(std::move(answer.text));
        return answer;
    }

    // The answer the driver has ready, if any, without waiting.
    std::optional<TakenAnswer> Ready() const
    {
        std::int32_t size = 0;
        // A server that stops does not wait out a long answer.
        if (module_.Stopping())
            Refuse(503, "stopping", "the server is stopping");
        if (!AnswerReady(size))
            return std::nullopt;
        return TakeAnswer(size);
    }

    // A wait that ended without the answer: no answer in time, or a missing
    // ZelGetAnswerSize, which too reports none.
    [[noreturn]] void NoAnswer(std::int32_t timeoutMs, const std::string& call, json late) const
    {
        if (const std::int32_t code = PendingError(target_.handle))
            Fail("ZelGetAnswerSize", Operation::ZelGetAnswerSize, code);
        throw ApiError{422, "answer_timeout", "no answer within " + std::to_string(timeoutMs) + " ms",
                       {{"call", call}, {"late_answers", std::move(late)}}};
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
            target_.errorCheck = true;
        if (check) {
            // A failed family connect has no identifier yet: its error is the driver's -1.
            Check(description.name, operation, result, target_.family && connect ? (result >= 0 ? result : -1) : handle);
        }
        if (operation == Operation::SetErrorCheck && result == 0)
            target_.errorCheck = words.back() != 0;
        return {{"result", description.result == EntryResult::NoResult ? json(nullptr) : json(result)}, {"outputs", outputs}};
    }

private:
    const ModuleEntries& module_;
    CallTarget& target_;
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

} // namespace

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

namespace {

// The exchanges a target offers besides its operations, each with the
// target's call lock held: one function each, found by the last word of the path.
// The command of a command or a query: a text, or its bytes as they are
// ("command_bytes", for one that is not UTF-8).
std::string CommandOf(const json& request)
{
    const Fields fields(request, {"command", "command_bytes", "timeout_ms"});
    if (fields.Has("command") == fields.Has("command_bytes"))
        Refuse(400, "bad_request", "give either \"command\" or \"command_bytes\"");
    if (fields.Has("command"))
        return fields.Text("command");
    const json& bytes = fields.Array("command_bytes");
    if (bytes.size() > kLongestText)
        Refuse(413, "too_large", "\"command_bytes\" holds more than " + std::to_string(kLongestText) + " bytes");
    std::string command;
    for (const json& byte : bytes)
        command += static_cast<char>(Fields::CheckedInteger(byte, "a byte of \"command_bytes\"", 1, 255));
    return command;
}

std::int32_t TimeoutOf(const json& request)
{
    return Fields(request, {"command", "command_bytes", "timeout_ms"}).Integer("timeout_ms", kDefaultTimeoutMs, 0,
                                                                                kLongestTimeoutMs);
}

// A query sent this way is owed its answer, which "answer" returns.
HttpReply CommandExchange(const TargetCalls& on, CallTarget& target, const json& request)
{
    if (request.contains("timeout_ms"))
        Refuse(400, "bad_request", "unknown field \"timeout_ms\"");
    const std::string command = CommandOf(request);
    const bool query = IsQuery(command);
    if (query && target.answers.CheckBound(AnswerClock::now()))
        OutOfStep(target, TargetCalls::Named("ZelCommandset", command), json::array());
    on.Command(command);
    if (query)
        target.answers.Owe(command, std::chrono::milliseconds(kDefaultTimeoutMs), AnswerClock::now());
    return Reply(200, json::object());
}

// Waits for the answer owed under `ticket` (0: the next, owed to none);
// answers of older queries go to "late_answers".
HttpReply AwaitExchange(const TargetCalls& on, CallTarget& target, std::uint64_t ticket, std::int32_t timeoutMs,
                        const std::string& call, json late)
{
    TakenAnswer answer;
    const AwaitOutcome outcome = AwaitAnswer(
        target.answers, ticket, std::chrono::milliseconds(timeoutMs), kPauses, [&] { return on.Ready(); },
        [&](const AnswerLedger::Owed& owed, const TakenAnswer& taken) { late.push_back(SetAside(&owed, taken)); },
        answer);
    if (outcome == AwaitOutcome::kOutOfStep)
        OutOfStep(target, call, std::move(late));
    if (outcome == AwaitOutcome::kTimedOut)
        on.NoAnswer(timeoutMs, call, std::move(late));
    return Reply(200, Answered(answer, std::move(late)));
}

HttpReply AnswerExchange(const TargetCalls& on, CallTarget& target, const json& request)
{
    const std::int32_t timeout = Fields(request, {"timeout_ms"}).Integer("timeout_ms", kDefaultTimeoutMs, 0, kLongestTimeoutMs);
    if (target.answers.Missing())
        OutOfStep(target, "read", json::array());
    const AnswerLedger::Owed* oldest = target.answers.Oldest();
    return AwaitExchange(on, target, oldest ? oldest->ticket : 0, timeout, "read", json::array());
}

HttpReply QueryExchange(const TargetCalls& on, CallTarget& target, const json& request)
{
    const std::string command = CommandOf(request);
    const std::int32_t timeout = TimeoutOf(request);
    const std::string call = TargetCalls::Named("query", command);
    // The answers that came since the last request belong to earlier queries
    // (or commands): set aside, never taken for this one.
    // Out of step, nobody can say whose the answers that come are: they wait for clear.
    if (target.answers.Missing())
        OutOfStep(target, call, json::array());
    json late = json::array();
    std::optional<TakenAnswer> ready;
    for (int taken = 0; taken < kMostAnswersAtOnce && (ready = on.Ready()); ++taken) {
        const std::optional<AnswerLedger::Owed> owed = target.answers.Settle();
        late.push_back(SetAside(owed ? &*owed : nullptr, *ready));
    }
    if (target.answers.CheckBound(AnswerClock::now()))
        OutOfStep(target, call, std::move(late));
    try {
        on.Command(command);
    } catch (ApiError& error) {
        error.details["late_answers"] = std::move(late);
        throw;
    }
    const std::uint64_t ticket = target.answers.Owe(command, std::chrono::milliseconds(timeout), AnswerClock::now());
    return AwaitExchange(on, target, ticket, timeout, call, std::move(late));
}

// Resynchronises: forgets the answers owed and returns those that have come.
HttpReply ClearExchange(const TargetCalls& on, CallTarget& target, const json& request)
{
    Fields(request, {});
    target.answers.Reset();
    json drained = json::array();
    std::optional<TakenAnswer> ready;
    for (int taken = 0; taken < kMostAnswersAtOnce && (ready = on.Ready()); ++taken)
        drained.push_back(ready->text);
    return Reply(200, {{"answers", drained}});
}

struct NamedExchange {
    const char* name;
    HttpReply (*answer)(const TargetCalls& on, CallTarget& target, const json& request);
};

constexpr NamedExchange kExchanges[] = {
    {"command", CommandExchange},
    {"answer", AnswerExchange},
    {"query", QueryExchange},
    {"clear", ClearExchange},
};

} // namespace

HttpReply Exchange(const ModuleEntries& module, CallTarget& target, const std::string& what, const json& request)
{
    const std::lock_guard<std::mutex> calls(target.calls);
    const TargetCalls on(module, target);
    for (const NamedExchange& exchange : kExchanges)
        if (what == exchange.name)
            return exchange.answer(on, target, request);
    const FamilyOperations* family = target.family;
    const Operation operation = ServedOperation(what, family);
    if (family && Describe(operation).kind != OperationKind::OnConnection)
        Refuse(400, "bad_request", what + " takes no connection: POST .../families/" + family->name + "/" + what);
    const Fields fields(request, {"arguments", "check"});
    return Reply(200, on.Raw(operation, fields.Array("arguments"), fields.Flag("check"), target.handle));
}

json CallUnbound(const ModuleEntries& module, const FamilyOperations& family, Operation operation,
                 const json& arguments, bool check)
{
    CallTarget unbound;
    unbound.family = &family;
    return TargetCalls(module, unbound).Raw(operation, arguments, check, -1);
}

bool FamilyAvailable(const ModuleEntries& module, const FamilyOperations& family)
{
    const std::string check = std::string(family.prefix) + "IsDLLAvailable";
    const auto available = reinterpret_cast<int(ZELBRIDGE_STDCALL*)()>(module.Export(check.c_str()));
    return available && available() == 1;
}

void CloseTarget(const ModuleEntries& module, CallTarget& target)
{
    const std::lock_guard<std::mutex> calls(target.calls);
    const TargetCalls on(module, target);
    on.Call(Operation::CloseConnection, {});
    if (!target.family)
        on.Call(Operation::GetError, {});
    // The next session to define this system starts as a new one would: in
    // step, owed nothing.
    target.answers.Reset();
    target.errorCheck = true;
}

} // namespace zelbridge::tool::serve
