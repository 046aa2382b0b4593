// send and shell: commands out, answers back, over one connected system. A
// query is waited for; every answer is printed next to the command it
// belongs to, however late it comes, and never taken for another's.
#include "answer_ledger.h"
#include "bridge_session.h"
#include "query_rule.h"
#include "subcommands.h"
#include "tool_errors.h"

#include <algorithm>
#include <chrono>
#include <istream>
#include <ostream>
#include <thread>

namespace zelbridge::tool {
namespace {

constexpr char kPrompt[] = "zelbridge> ";
// The shell's line that resynchronises a connection out of step.
constexpr char kClearLine[] = ":clear";

// Polling for an answer: the pause grows so that a slow controller costs no CPU.
constexpr PollPauses kPauses{std::chrono::milliseconds(1), std::chrono::milliseconds(50)};

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

// A driver failure met while reading answers.
struct AnswerFailure {
    BridgeSession::Reply reply;
};

enum class Outcome { kDone, kFailed, kStop };

// Sends commands and prints answers, keeping the account of the answers
// owed: each answer goes to the oldest query still owed one, so one that
// comes late is printed as late, labelled with its own query, on standard
// error. An answer owed too long puts the connection out of step: queries
// are refused, not answered with someone else's answer, until :clear.
class Exchange {
public:
    Exchange(BridgeSession& session, const Invocation& request, std::ostream& out, std::ostream& err)
        : session_(session), timeout_(request.timeoutMs), ledger_(request.giveUpFactorValue), out_(out), err_(err)
    {
        session_.SetAnswerBound(request.answerBoundBytes);
    }

    // Sends `command` and prints its answer, waiting for it when it is a
    // query. kStop when no later command should be sent by send.
    Outcome Run(const std::string& command)
    {
        const bool query = IsQuery(command);
        try {
            // Answers that came since the last command are its own, or late
            // ones; out of step, nobody can say whose: they wait for :clear.
            if (!lastCommand_.empty() && !ledger_.Missing() && !TakeReadyAnswers())
                return Outcome::kFailed;
            if (query && ledger_.CheckBound(AnswerClock::now())) {
                err_ << "zelbridge: " << Shown(command) << ": not sent: " << OutOfStep() << std::endl;
                return Outcome::kStop;
            }
            const BridgeSession::Reply sent = session_.Submit(command);
            if (sent.failed) {
                // Refused: owed no answer.
                Print(command, sent);
                return Outcome::kStop;
            }
            lastCommand_ = command;
            if (!query)
                return ledger_.Missing() || TakeReadyAnswers() ? Outcome::kDone : Outcome::kFailed;
            return Await(command, ledger_.Owe(command, timeout_, AnswerClock::now()));
        } catch (const AnswerFailure& failure) {
            Print(command, failure.reply);
            return Outcome::kFailed;
        }
    }

    // Drops the answers owed and prints, labelled, those that have come.
    void Clear()
    {
        ledger_.Reset();
        try {
            std::optional<BridgeSession::Reply> reply;
            for (int taken = 0; taken < kMostAnswersAtOnce && (reply = Ready()); ++taken)
                err_ << "zelbridge: dropped by " << kClearLine << ": " << Text(*reply) << std::endl;
        } catch (const AnswerFailure& failure) {
            Print(kClearLine, failure.reply);
        }
        err_ << "zelbridge: no answer is owed now" << std::endl;
    }

    // Before the tool exits: the answers still owed get the timeout once
    // more, then are given up, each named; false when one is given up.
    bool Finish()
    {
        // Nothing was sent: nothing can be owed or ready.
        if (lastCommand_.empty())
            return true;
        bool complete = true;
        try {
            complete = ledger_.Missing() || TakeReadyAnswers();
            const AnswerClock::time_point deadline = AnswerClock::now() + timeout_;
            AnswerClock::duration pause = kPauses.first;
            for (AnswerClock::time_point now;
                 ledger_.Owes() && !ledger_.Missing() && (now = AnswerClock::now()) < deadline;) {
                std::this_thread::sleep_for(std::min(pause, deadline - now));
                pause = std::min(pause * 2, kPauses.longest);
                complete = TakeReadyAnswers() && complete;
            }
        } catch (const AnswerFailure& failure) {
            Print(lastCommand_, failure.reply);
            complete = false;
        }
        for (std::optional<AnswerLedger::Owed> owed; (owed = ledger_.Settle());) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(AnswerClock::now() - owed->sent);
            err_ << "zelbridge: " << Shown(owed->query) << ": given up after " << waited.count()
                 << " ms: its answer never came" << std::endl;
            complete = false;
        }
        return complete;
    }

private:
    Outcome Await(const std::string& command, std::uint64_t ticket)
    {
        BridgeSession::Reply reply;
        switch (AwaitAnswer(ledger_, ticket, timeout_, kPauses, [&] { return Ready(); },
                            [&](const AnswerLedger::Owed& owed, BridgeSession::Reply late) { Late(owed, late); },
                            reply)) {
        case AwaitOutcome::kAnswered:
            return Print(command, reply) ? Outcome::kDone : Outcome::kFailed;
        case AwaitOutcome::kTimedOut:
            err_ << "zelbridge: " << Shown(command) << ": no answer within " << timeout_.count()
                 << " ms; it is printed as a late answer if it comes" << std::endl;
            return Outcome::kFailed;
        case AwaitOutcome::kOutOfStep:
            break;
        }
        err_ << "zelbridge: " << Shown(command) << ": " << OutOfStep() << std::endl;
        return Outcome::kStop;
    }

    std::string OutOfStep() const
    {
        return ledger_.OutOfStepText() + "; type " + kClearLine +
               " in zelbridge shell to drop the answers owed (a new zelbridge send starts in step)";
    }

    // An answer the driver has ready, if any.
    std::optional<BridgeSession::Reply> Ready()
    {
        BridgeSession::Reply reply = session_.TakeAnswer();
        if (reply.failed)
            throw AnswerFailure{reply};
        if (!reply.answer)
            return std::nullopt;
        return reply;
    }

    // Prints the answers that have come: late ones labelled, one owed to no
    // query as the answer of the last command.
    bool TakeReadyAnswers()
    {
        bool printed = true;
        std::optional<BridgeSession::Reply> reply;
        for (int taken = 0; taken < kMostAnswersAtOnce && (reply = Ready()); ++taken) {
            if (std::optional<AnswerLedger::Owed> owed = ledger_.Settle())
                Late(*owed, *reply);
            else
                printed = Print(lastCommand_, *reply) && printed;
        }
        return printed;
    }

    void Late(const AnswerLedger::Owed& owed, const BridgeSession::Reply& reply)
    {
        err_ << "zelbridge: " << (owed.late ? "late" : "unread") << " answer to " << Shown(owed.query) << ": "
             << Text(reply) << std::endl;
    }

    // The answer as printed: without its line end, one is printed anyway;
    // a cut one says so.
    static std::string Text(const BridgeSession::Reply& reply)
    {
        std::string text = TrimmedAnswer(reply.answer.value_or(""));
        if (reply.cutBytes)
            text += " [cut: " + std::to_string(reply.cutBytes) + " more bytes over --answer-bound]";
        return text;
    }

    // Prints the answer on `out`, or the failure on `err`; false when it failed.
    bool Print(const std::string& command, const BridgeSession::Reply& reply)
    {
        if (reply.failed) {
            err_ << "zelbridge: " << Shown(command) << ": " << reply.error << std::endl;
            return false;
        }
        if (!reply.answer)
            return true;
        out_ << TrimmedAnswer(*reply.answer) << std::endl;
        if (reply.cutBytes)
            err_ << "zelbridge: " << Shown(command) << ": the answer is cut after " << reply.answer->size()
                 << " bytes: " << reply.cutBytes << " more bytes over --answer-bound" << std::endl;
        return true;
    }

    BridgeSession& session_;
    const std::chrono::milliseconds timeout_;
    AnswerLedger ledger_;
    std::ostream& out_;
    std::ostream& err_;
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
    Exchange exchange(session, request, out, err);
    bool allSucceeded = true;
    for (const std::string& command : request.commands) {
        const Outcome outcome = exchange.Run(command);
        allSucceeded = outcome == Outcome::kDone && allSucceeded;
        // A query that timed out does not stop the rest: its answer is
        // still owed, and printed as late when it comes.
        if (outcome == Outcome::kStop)
            break;
    }
    return exchange.Finish() && allSucceeded ? kSuccess : kFailure;
}

int RunShell(const Invocation& request, bool prompt, std::istream& in, std::ostream& out, std::ostream& err)
{
    const BridgeModule bridge;
    BridgeSession session(bridge, *request.driver, *request.prefix, *request.link);
    Exchange exchange(session, request, out, err);
    bool allSucceeded = true;
    std::string line;
    while ((prompt ? out << kPrompt << std::flush : out), std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (IsBlank(line))
            continue;
        if (line == kClearLine)
            exchange.Clear();
        else
            allSucceeded = exchange.Run(line) == Outcome::kDone && allSucceeded;
    }
    if (prompt)
        out << std::endl;
    return exchange.Finish() && allSucceeded ? kSuccess : kFailure;
}

} // namespace zelbridge::tool
