// The answer accounts of a connection: who is owed what, and when an answer
// owed has been waited for too long to tell the next ones apart.
#include "answer_ledger.h"

#include <cmath>
#include <sstream>

namespace zelbridge::tool {

std::uint64_t AnswerLedger::Owe(std::string query, std::chrono::milliseconds timeout, AnswerClock::time_point now)
{
    owed_.push_back({++lastTicket_, std::move(query), now, timeout, false});
    return lastTicket_;
}

std::optional<AnswerLedger::Owed> AnswerLedger::Settle()
{
    if (owed_.empty())
        return std::nullopt;
    Owed oldest = std::move(owed_.front());
    owed_.pop_front();
    return oldest;
}

void AnswerLedger::MarkLate(std::uint64_t ticket) noexcept
{
    for (Owed& owed : owed_)
        if (owed.ticket == ticket)
            owed.late = true;
}

std::chrono::milliseconds AnswerLedger::GiveUpAfter(const Owed& owed) const noexcept
{
    // Saturated: a timeout of days times the factor must not wrap around.
    constexpr double kLongest = 1e12;
    const double scaled = std::min(kLongest, giveUpFactor_ * static_cast<double>(owed.timeout.count()));
    return std::max(kShortestGiveUp, std::chrono::milliseconds(static_cast<std::int64_t>(scaled)));
}

bool AnswerLedger::CheckBound(AnswerClock::time_point now)
{
    if (!missing_ && !owed_.empty() && now - owed_.front().sent >= GiveUpAfter(owed_.front()))
        missing_ = owed_.front();
    return missing_.has_value();
}

std::string AnswerLedger::OutOfStepText() const
{
    if (!missing_)
        return "";
    std::ostringstream text;
    text << "no answer to " << missing_->query << " came within " << GiveUpAfter(*missing_).count() << " ms ("
         << giveUpFactor_ << " times its timeout of " << missing_->timeout.count() << " ms, "
         << kShortestGiveUp.count() << " ms at least), so the answers that follow cannot be told apart";
    return text.str();
}

void AnswerLedger::Reset() noexcept
{
    owed_.clear();
    missing_.reset();
}

} // namespace zelbridge::tool
