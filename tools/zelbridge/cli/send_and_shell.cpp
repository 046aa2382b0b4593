// send and shell: commands out, answers back, over one connected system. A
// query is waited for; every answer is printed next to the command it
// belongs to, however late it comes.
#include "bridge_session.h"
#include "query_rule.h"
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

// A command named in a message is cut to this, so that a long one does not
// bury the message.
constexpr std::string::size_type kLongestShownCommand = 80;

// The command as a message names it.
std::string Shown(const std::string& command)
{
    if (command.size() <= kLongestShownCommand)
        return command;
    return command.substr(0, kLongestShownCommand - 20) + "... (" + std::to_string(command.size()) + " characters)";
}

// Controllers answer in the order they were asked, so an answer that comes
// after its query was given up on belongs to the oldest query still owed one.
// Before another query is sent, the owed ones get the timeout once more and
// are then given up: a query that is never answered must not take the next
// query's answer for its own.
class Exchange {
public:
    Exchange(BridgeSession& session, std::int32_t timeoutMs, std::ostream& out, std::ostream& err)
        : session_(session), timeout_(timeoutMs), out_(out), err_(err)
    {
    }

    // Sends `command` and prints its answer, waiting for it when it is a
    // query; false when it failed or its answer did not come in time.
    bool Run(const std::string& command)
    {
        const bool query = IsQuery(command);
        // Answers that came since the last command are its own, or late ones.
        bool settled = lastCommand_.empty() || TakeReadyAnswers();
        if (query && !owed_.empty())
            settled = Settle(true) && settled;
        if (!Print(command, session_.Submit(command)))
            return false;
        lastCommand_ = command;
        if (!query)
            return TakeReadyAnswers() && settled;
        owed_.push_back({command, false});
        return AwaitOwedAnswers() && settled;
    }

    // Gives the answers still owed the timeout once more and prints whatever
    // else is ready; false when one never came.
    bool Finish()
    {
        const bool complete = Settle(false);
        return TakeReadyAnswers() && complete;
    }

    // Gives the answers still owed the timeout once more, asking the driver
    // nothing when none is owed.
    void AwaitLateAnswers() { Settle(false); }

private:
    struct Owed {
        std::string query;
        // Reported as not answered in time: its answer is marked late.
        bool late;
    };

    // Waits once more for the answers owed, then gives up on the rest; says
    // so when a query follows, whose answer could otherwise be taken for theirs.
    bool Settle(bool queryFollows)
    {
        if (owed_.empty() || AwaitOwedAnswers())
            return true;
        for (const Owed& owed : owed_)
            if (queryFollows)
                err_ << "zelbridge: " << Shown(owed.query) << ": given up after " << 2 * timeout_.count()
                     << " ms; the answers that follow are taken for the commands sent after it" << std::endl;
        owed_.clear();
        return false;
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
                        err_ << "zelbridge: " << Shown(owed.query) << ": no answer within " << timeout_.count() << " ms"
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
            out_ << "late answer to " << Shown(owed.query) << ": ";
        return Print(owed.query, reply);
    }

    // Prints the answer on `out`, or the failure on `err`; false when it failed.
    bool Print(const std::string& command, const BridgeSession::Reply& reply)
    {
        if (reply.failed) {
            err_ << "zelbridge: " << Shown(command) << ": " << reply.error << std::endl;
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
    for (const std::string& command : request.commands) {
        if (!exchange.Run(command)) {
            // A query given up on may still be answered late.
            exchange.AwaitLateAnswers();
            return kFailure;
        }
    }
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
