// The calls into the module: each entry point reached through the word
// list, each failure turned into the driver's code and text, and answers
// polled for until they come or the wait ends.
#include "module_calls.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace zelbridge::tool::serve {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kDefaultTimeoutMs = 5000;
constexpr std::int32_t kLongestTimeoutMs = 600000;
// Polling for an answer: at once, then after pauses that double up to the
// longest, as the Python package polls in process.
constexpr auto kFirstPause = std::chrono::microseconds(100);
constexpr auto kLongestPause = std::chrono::milliseconds(10);

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
            if (const std::int32_t code = PendingError(target_.handle))
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
                if (const std::int32_t code = PendingError(target_.handle))
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
        for (; !target_.late.empty(); target_.late.pop_front()) {
            std::int32_t size = 0;
            const bool ready = AnswerReady(size);
            late.push_back({{"query", target_.late.front()}, {"answer", ready ? json(TakeAnswer(size)) : json(nullptr)}});
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
HttpReply CommandExchange(const TargetCalls& on, CallTarget&, const json& request)
{
    const Fields fields(request, {"command"});
    on.Command(fields.Text("command"));
    return Reply(200, json::object());
}

HttpReply AnswerExchange(const TargetCalls& on, CallTarget& target, const json& request)
{
    const Fields fields(request, {"timeout_ms"});
    const std::string answer = on.Answer(fields.Integer("timeout_ms", kDefaultTimeoutMs, 0, kLongestTimeoutMs), "read");
    if (!target.late.empty())
        target.late.pop_front();
    return Reply(200, {{"answer", answer}});
}

HttpReply QueryExchange(const TargetCalls& on, CallTarget& target, const json& request)
{
    const Fields fields(request, {"command", "timeout_ms"});
    const std::int32_t timeout = fields.Integer("timeout_ms", kDefaultTimeoutMs, 0, kLongestTimeoutMs);
    const std::string command = fields.Text("command");
    json reply = {{"late_answers", on.SetAsideLateAnswers()}};
    on.Command(command);
    try {
        reply["answer"] = on.Answer(timeout, TargetCalls::Named("query", command));
    } catch (const ApiError& error) {
        if (error.kind == "answer_timeout")
            target.late.push_back(command);
        throw;
    }
    if (reply["late_answers"].empty())
        reply.erase("late_answers");
    return Reply(200, reply);
}

struct NamedExchange {
    const char* name;
    HttpReply (*answer)(const TargetCalls& on, CallTarget& target, const json& request);
};

constexpr NamedExchange kExchanges[] = {
    {"command", CommandExchange},
    {"answer", AnswerExchange},
    {"query", QueryExchange},
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
}

} // namespace zelbridge::tool::serve
