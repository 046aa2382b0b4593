// send and shell: commands out, answers back, over one connected system. A
// query is waited for; every answer is printed next to the command it
// belongs to, however late it comes.
#include "bridge_session.h"
#include "subcommands.h"
#include "tool_errors.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <istream>
#include <ostream>
#include <thread>

namespace zelbridge::tool {
namespace {

constexpr char kPrompt[] = "zelbridge> ";

using Clock = std::chrono::steady_clock;

// Controllers answer in the order they were asked, so an answer that comes
// after its query was given up on belongs to the oldest query still owed one.
class Exchange {
public:
    Exchange(BridgeSession& session, std::int32_t timeoutMs, std::ostream& out, std::ostream& err)
        : session_(session), timeout_(timeoutMs), out_(out), err_(err)
    {
    }

    // Sends `command` and prints its answer, waiting for it when it is due
    // one; false when it failed or a due answer did not come in time.
    bool Run(const std::string& command)
    {
        // Answers that came since the last command are its own, or late ones.
        if ((!lastCommand_.empty() && !TakeReadyAnswers()) || !Print(command, session_.Submit(command)))
            return false;
        lastCommand_ = command;
        if (!IsQuery(command))
            return TakeReadyAnswers();
        owed_.push_back({command, false});
        return AwaitOwedAnswers();
    }

    // Gives the answers still owed the timeout once more and prints whatever
    // else is ready; false when one never came.
    bool Finish()
    {
        const bool complete = owed_.empty() || AwaitOwedAnswers();
        return TakeReadyAnswers() && complete;
    }

private:
    struct Owed {
        std::string query;
        // Reported as not answered in time: its answer is marked late.
        bool late;
    };

    // A command ending in "?" (trailing blanks aside) asks for an answer.
    static bool IsQuery(const std::string& command)
    {
        const std::string::size_type last = command.find_last_not_of(" \t");
        return last != std::string::npos && command[last] == '?';
    }

    bool TakeReadyAnswers()
    {
        for (BridgeSession::Reply reply; (reply = session_.TakeAnswer()).failed || reply.answer;)
            if (!Deliver(reply))
                return false;
        return true;
    }

    // Polls until every owed answer is in or the timeout passes, sleeping a
    // little longer each time so that a slow controller costs no CPU.
    bool AwaitOwedAnswers()
    {
        const Clock::time_point deadline = Clock::now() + timeout_;
        auto pause = std::chrono::milliseconds(1);
        while (!owed_.empty()) {
            const BridgeSession::Reply reply = session_.TakeAnswer();
            if (reply.failed || reply.answer) {
                if (!Deliver(reply))
                    return false;
                continue;
            }
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                for (Owed& owed : owed_) {
                    if (!owed.late)
                        err_ << "zelbridge: " << owed.query << ": no answer within " << timeout_.count() << " ms"
                             << std::endl;
                    owed.late = true;
                }
                return false;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
        return true;
    }

    // An answer goes to the oldest query owed one; with none owed it is the
    // answer of the last command sent.
    bool Deliver(const BridgeSession::Reply& reply)
    {
        if (owed_.empty())
            return Print(lastCommand_, reply);
        const Owed owed = owed_.front();
        owed_.pop_front();
        if (owed.late && reply.answer)
            out_ << "late answer to " << owed.query << ": ";
        return Print(owed.query, reply);
    }

    // Prints the answer on `out`, or the failure on `err`; false when it failed.
    bool Print(const std::string& command, const BridgeSession::Reply& reply)
    {
        if (reply.failed) {
            err_ << "zelbridge: " << command << ": " << reply.error << std::endl;
            return false;
        }
        if (reply.answer) {
            // Controllers often end an answer with a line end; one is printed anyway.
            std::string answer = *reply.answer;
            while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
                answer.pop_back();
            out_ << answer << std::endl;
        }
        return true;
    }

    BridgeSession& session_;
    const std::chrono::milliseconds timeout_;
    std::ostream& out_;
    std::ostream& err_;
    std::deque<Owed> owed_;
    std::string lastCommand_;
};

bool IsBlank(const std::string& line)
{
    return line.find_first_not_of(" \t") == std::string::npos;
}

} // namespace

int RunSend(const Invocation& request, std::ostream& out, std::ostream& err)
{
    const BridgeModule bridge;
    BridgeSession session(bridge, *request.driver, *request.prefix, *request.link);
    Exchange exchange(session, request.timeoutMs, out, err);
    for (const std::string& command : request.commands)
        if (!exchange.Run(command))
            return kFailure;
    return exchange.Finish() ? kSuccess : kFailure;
}

int RunShell(const Invocation& request, bool prompt, std::istream& in, std::ostream& out, std::ostream& err)
{
    const BridgeModule bridge;
    BridgeSession session(bridge, *request.driver, *request.prefix, *request.link);
    Exchange exchange(session, request.timeoutMs, out, err);
    bool allSucceeded = true;
    std::string line;
    while ((prompt ? out << kPrompt << std::flush : out), std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (IsBlank(line))
            continue;
        allSucceeded = exchange.Run(line) && allSucceeded;
    }
    if (prompt)
        out << std::endl;
    return exchange.Finish() && allSucceeded ? kSuccess : kFailure;
}

} // namespace zelbridge::tool
