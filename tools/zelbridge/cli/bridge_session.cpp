// Defining, connecting, exchanging commands and answers, and telling apart
// the three ways a call fails: a missing driver function, a driver error,
// and an answer the tool will not take.
#include "bridge_session.h"

#include "diagnosis/check_report.h"
#include "tool_errors.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <new>
#include <vector>

namespace zelbridge::tool {
namespace {

ZelWord TextArgument(const char* text)
{
    return reinterpret_cast<ZelWord>(text);
}

// The driver functions a connect entry point may call.
std::vector<Operation> ConnectFunctions(Link::Kind kind)
{
    switch (kind) {
    case Link::Kind::kRs232:
        return {Operation::ConnectRS232};
    case Link::Kind::kTcp:
        return {Operation::ConnectTCPIP};
    case Link::Kind::kGpib:
        return {Operation::ConnectNIgpib};
    case Link::Kind::kUsb:
        return {Operation::ConnectUSB};
    case Link::Kind::kPci:
        break;
    }
    return {std::begin(kConnectCalls), std::end(kConnectCalls)};
}

} // namespace

BridgeSession::BridgeSession(const BridgeModule& bridge, const std::string& driver, const std::string& prefix,
                             const Link& link)
    : bridge_(bridge), prefix_(prefix), driver_(ProbeDriver(driver, prefix))
{
    const std::string checkCommand = "zelbridge check --driver " + driver + " --prefix " + prefix;
    index_ = bridge_.DefineSystem(driver.c_str(), prefix.c_str());
    if (index_ < 0) {
        std::string reason = "cannot load the driver library " + driver + " (tried " + driver_.load.fileTried + ")";
        if (!driver_.load.loaded)
            reason += ": " + driver_.load.error.Describe();
        // The system's error says as much for a missing dependency as for a
        // missing file, and little of a library of the other architecture.
        const LoadDiagnosis diagnosis = DiagnoseLoad(ExamineLibrary(driver_.load.fileTried, driver_.load.installPath));
        if (!diagnosis.problems.empty())
            reason += "; " + DescribeProblem(diagnosis.problems.front());
        if (!driver_.load.installPath.empty() && driver.find_first_of("\\/") == std::string::npos)
            reason += "; a name without a folder is looked for in the install folder " + driver_.load.installPath +
                      ": give the full path of a driver kept elsewhere";
        throw Failure(reason + "; \"" + checkCommand + "\" shows where it was looked for and why it does not load");
    }
    const std::vector<Operation> functions = ConnectFunctions(link.kind);
    const std::int32_t result = Connect(link);
    if (result >= 0)
        return;
    std::string names;
    for (Operation function : functions)
        names += (names.empty() ? "" : " or ") + FunctionName(function);
    const bool exported = std::any_of(functions.begin(), functions.end(), [&](Operation f) { return Exports(f); });
    std::string reason = "cannot connect with " + link.option + " " + link.value + ": " +
                         Explain(ErrorAfter(exported, result), names);
    if (!exported)
        reason += PrefixHint(prefix, checkCommand);
    throw Failure(reason);
}

// A driver that lacks the connect function most often has it under another prefix.
std::string BridgeSession::PrefixHint(const std::string& prefix, const std::string& checkCommand) const
{
    const LibraryFile file = ExamineLibrary(driver_.load.fileTried, driver_.load.installPath);
    std::optional<tool::PrefixHint> hint;
    if (file.reading && file.reading->status == BinaryReading::Status::kRead)
        hint = SuggestPrefix(file.reading->image.exports, prefix);
    if (!hint)
        return "; \"" + checkCommand + "\" lists what it exports";
    return "; it exports " + std::to_string(hint->count) + " of the " + std::to_string(kOperationCount) +
           " operations as \"" + hint->prefix + "\": did you mean --prefix " + hint->prefix + "?";
}

BridgeSession::~BridgeSession()
{
    bridge_.CloseConnection(index_);
}

BridgeSession::Reply BridgeSession::Submit(const std::string& command)
{
    const std::int32_t result = bridge_.ZelCommandset(index_, command.c_str());
    if (const std::int32_t code = ErrorAfter(Exports(Operation::ZelCommandset), result))
        return Failed(code, Operation::ZelCommandset);
    return {};
}

BridgeSession::Reply BridgeSession::TakeAnswer()
{
    int size = 0;
    std::int32_t result = bridge_.ZelGetAnswerSize(index_, &size);
    if (const std::int32_t code = ErrorAfter(Exports(Operation::ZelGetAnswerSize), result))
        return Failed(code, Operation::ZelGetAnswerSize);
    Reply reply;
    if (size <= 0)
        return reply;

    // One byte more than announced, whether or not the driver counted the
    // terminating zero; the last byte stays zero whatever the driver writes.
    // Read in full even over the bound: a driver keeps an answer that does
    // not fit, and would hand it out again in place of the next one.
    std::vector<char> buffer;
    try {
        buffer.assign(static_cast<std::size_t>(size) + 1, '\0');
    } catch (const std::bad_alloc&) {
        reply.failed = true;
        reply.error = "the driver announces an answer of " + std::to_string(size) + " bytes, more than there is memory for";
        return reply;
    }
    const int capacity = buffer.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(buffer.size());
    result = bridge_.ZelGetAnswer(index_, buffer.data(), capacity);
    if (const std::int32_t code = ErrorAfter(Exports(Operation::ZelGetAnswer), result))
        return Failed(code, Operation::ZelGetAnswer);
    buffer.back() = '\0';
    std::string answer = buffer.data();
    if (answer.size() > answerBound_) {
        reply.cutBytes = answer.size() - answerBound_;
        answer.resize(answerBound_);
    }
    reply.answer = std::move(answer);
    return reply;
}

std::int32_t BridgeSession::SendCommand(const std::string& command)
{
    return bridge_.ZelCommandset(index_, command.c_str());
}

std::int32_t BridgeSession::TakeError()
{
    return Exports(Operation::GetError) ? bridge_.GetError(index_) : 0;
}

std::string BridgeSession::ErrorText(std::int32_t code)
{
    if (!Exports(Operation::TranslateError))
        return "";
    char description[512] = {};
    bridge_.TranslateError(index_, code, TextArgument(description), sizeof description);
    description[sizeof description - 1] = '\0';
    return description;
}

std::int32_t BridgeSession::Connect(const Link& link)
{
    switch (link.kind) {
    case Link::Kind::kRs232:
        return bridge_.ConnectRS232(index_, link.first, link.second);
    case Link::Kind::kTcp:
        return bridge_.ConnectTCPIP(index_, TextArgument(link.text.c_str()), link.first);
    case Link::Kind::kGpib:
        return bridge_.ConnectNIgpib(index_, link.first, link.second);
    case Link::Kind::kUsb:
        return bridge_.ConnectUSB(index_, TextArgument(link.text.c_str()));
    case Link::Kind::kPci:
        break;
    }
    return bridge_.Connect(index_, link.first);
}

bool BridgeSession::Exports(Operation operation) const noexcept
{
    return driver_.exported[static_cast<std::size_t>(operation)];
}

std::string BridgeSession::FunctionName(Operation operation) const
{
    return prefix_ + kOperationNames[static_cast<std::size_t>(operation)];
}

std::int32_t BridgeSession::ErrorAfter(bool exported, std::int32_t result)
{
    if (!exported) {
        // The module answered for the missing function and keeps
        // FUNCTION_NOT_AVAILABLE pending; collect it, or the next call
        // would be blamed for it.
        bridge_.GetError(index_);
        return FUNCTION_NOT_AVAILABLE;
    }
    // Without the driver's GetError the module would answer
    // FUNCTION_NOT_AVAILABLE for every call; only the result can tell then.
    const std::int32_t reported = TakeError();
    if (reported != 0)
        return reported;
    return result < 0 ? result : 0;
}

std::string BridgeSession::Explain(std::int32_t code, const std::string& functions)
{
    std::string text = "error " + std::to_string(code);
    if (code == FUNCTION_NOT_AVAILABLE)
        return text + ": function not available: the driver library does not export " + functions;
    const std::string description = ErrorText(code);
    if (!description.empty())
        text += ": " + description;
    return text;
}

BridgeSession::Reply BridgeSession::Failed(std::int32_t code, Operation operation)
{
    Reply reply;
    reply.failed = true;
    reply.error = Explain(code, FunctionName(operation));
    return reply;
}

} // namespace zelbridge::tool
