// The queries a connection owes answers to, oldest first, and the wait for
// one of them. Controllers answer in the order they were asked, so an answer
// that comes belongs to the oldest query owed one, however late it is, and
// is never taken for a newer query's. The tool and the server keep their
// connections' accounts with this; the Python package keeps the same rule
// (python/zelbridge/_answers.py).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <thread>

namespace zelbridge::tool {

using AnswerClock = std::chrono::steady_clock;

// An answer owed for this many times its query's timeout, and
// kShortestGiveUp at least, puts the connection out of step: the bridge can
// no longer tell whose answer comes next, and says so instead of guessing.
inline constexpr double kGiveUpFactor = 10;
inline constexpr std::chrono::milliseconds kShortestGiveUp{1000};
// Answers taken in one go (those that came since the last request, or a
// resynchronisation's): a driver that always has one ready must not hold a
// client for ever. The rest wait for the next go.
inline constexpr int kMostAnswersAtOnce = 4096;

class AnswerLedger {
public:
    struct Owed {
        std::uint64_t ticket = 0;
        std::string query;
        AnswerClock::time_point sent;
        std::chrono::milliseconds timeout{0};
        // Its own wait ended without it: its answer, when it comes, is late.
        bool late = false;
    };

    explicit AnswerLedger(double giveUpFactor = kGiveUpFactor) noexcept : giveUpFactor_(giveUpFactor) {}

    // A query the driver took: its answer is owed. Returns its ticket.
    std::uint64_t Owe(std::string query, std::chrono::milliseconds timeout, AnswerClock::time_point now);
    const Owed* Oldest() const noexcept { return owed_.empty() ? nullptr : &owed_.front(); }
    bool Owes() const noexcept { return !owed_.empty(); }
    // An answer has come: the query it answers, no longer owed; none when no
    // query is owed one (the answer of another command).
    std::optional<Owed> Settle();
    void MarkLate(std::uint64_t ticket) noexcept;
    // Whether the connection is out of step: once the oldest answer owed is
    // past its bound, until Reset.
    bool CheckBound(AnswerClock::time_point now);
    const std::optional<Owed>& Missing() const noexcept { return missing_; }
    // "no answer to 'TEMP?' came within 20000 ms (10 times its timeout...)".
    std::string OutOfStepText() const;
    // Forgets every answer owed and the out-of-step state: after a
    // resynchronisation, or when the connection closes.
    void Reset() noexcept;
    double GiveUpFactor() const noexcept { return giveUpFactor_; }
    std::chrono::milliseconds GiveUpAfter(const Owed& owed) const noexcept;

private:
    double giveUpFactor_;
    std::uint64_t lastTicket_ = 0;
    std::deque<Owed> owed_;
    std::optional<Owed> missing_;
};

enum class AwaitOutcome { kAnswered, kTimedOut, kOutOfStep };

struct PollPauses {
    AnswerClock::duration first;
    AnswerClock::duration longest;
};

// Waits for the answer owed under `ticket` (0: the next answer, owed to no
// query), polling `takeReady` (an optional answer, none while none is
// ready) after pauses that double from the first to the longest. Answers of
// older queries go to `setAside(owed, answer)`. The timeout runs from when
// the answers owed before this one are in: a slow answer ahead costs time,
// never the wrong answer. The answer is left in `answer`.
template <typename Answer, typename TakeReady, typename SetAside>
AwaitOutcome AwaitAnswer(AnswerLedger& ledger, std::uint64_t ticket, std::chrono::milliseconds timeout,
                         PollPauses pauses, TakeReady&& takeReady, SetAside&& setAside, Answer& answer)
{
    std::optional<AnswerClock::time_point> deadline;
    AnswerClock::duration pause = pauses.first;
    for (;;) {
        if (std::optional<Answer> ready = takeReady()) {
            std::optional<AnswerLedger::Owed> owed = ledger.Settle();
            if (!owed || owed->ticket == ticket) {
                answer = std::move(*ready);
                return AwaitOutcome::kAnswered;
            }
            setAside(*owed, std::move(*ready));
            continue;
        }
        const AnswerClock::time_point now = AnswerClock::now();
        const AnswerLedger::Owed* oldest = ledger.Oldest();
        const bool ownTurn = !oldest || oldest->ticket == ticket;
        if (!ownTurn && ledger.CheckBound(now))
            return AwaitOutcome::kOutOfStep;
        if (ownTurn) {
            if (!deadline)
                deadline = now + timeout;
            if (now >= *deadline) {
                ledger.MarkLate(ticket);
                return AwaitOutcome::kTimedOut;
            }
        }
        std::this_thread::sleep_for(deadline ? std::min(pause, *deadline - now) : pause);
        pause = std::min(pause * 2, pauses.longest);
    }
}

} // namespace zelbridge::tool
