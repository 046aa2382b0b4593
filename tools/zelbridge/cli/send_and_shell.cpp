// send and shell: commands out, answers back, over one connected system.
#include "bridge_session.h"
#include "subcommands.h"
#include "tool_errors.h"

#include <istream>
#include <ostream>

namespace zelbridge::tool {
namespace {

constexpr char kPrompt[] = "zelbridge> ";

// Prints the answer on `out`, or the failure on `err`; false when it failed.
bool Report(const std::string& command, const BridgeSession::Reply& reply, std::ostream& out, std::ostream& err)
{
    if (reply.failed) {
        err << "zelbridge: " << command << ": " << reply.error << std::endl;
        return false;
    }
    if (reply.answer) {
        // Controllers often end an answer with a line end; one is printed anyway.
        std::string answer = *reply.answer;
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        out << answer << std::endl;
    }
    return true;
}

bool IsBlank(const std::string& line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

} // namespace

int RunSend(const Invocation& request, std::ostream& out, std::ostream& err)
{
    const BridgeModule bridge;
    BridgeSession session(bridge, *request.driver, *request.prefix, *request.link);
    for (const std::string& command : request.commands)
        if (!Report(command, session.Send(command), out, err))
            return kFailure;
    return kSuccess;
}

int RunShell(const Invocation& request, std::istream& in, std::ostream& out, std::ostream& err)
{
    const BridgeModule bridge;
    BridgeSession session(bridge, *request.driver, *request.prefix, *request.link);
    bool allSucceeded = true;
    std::string line;
    while (out << kPrompt << std::flush, std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (IsBlank(line))
            continue;
        allSucceeded = Report(line, session.Send(line), out, err) && allSucceeded;
    }
    out << std::endl;
    return allSucceeded ? kSuccess : kFailure;
}

} // namespace zelbridge::tool
