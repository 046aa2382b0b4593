// One simulated connection: the description it answers from, the values of
// its properties, the answers it owes and the error it has not reported yet.
#pragma once

#include "description.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

using Clock = std::chrono::steady_clock;

class Session {
public:
    static constexpr std::size_t kMostPendingAnswers = 64;

    explicit Session(std::shared_ptr<const Description> description);

    // Runs a command and queues its answer, if it has one. Returns 0 or a
    // failure code, which stays for TakeError: the simulator's own, or the
    // code of an error the command raised, which with error checking off
    // is only kept, and the command returns 0.
    std::int32_t Execute(std::string_view command, Clock::time_point now);

    // The oldest answer once its delay has passed; null when there is none,
    // and then `waiting` tells whether one is still to come.
    const std::string* ReadyAnswer(Clock::time_point now, bool& waiting) const;
    void DropAnswer();

    // Keeps `code` as the error TakeError reports next; returns it.
    std::int32_t Fail(std::int32_t code) noexcept;
    // The pending error, once; 0 when there is none.
    std::int32_t TakeError() noexcept;
    void SetErrorCheck(bool enabled) noexcept { errorCheck_ = enabled; }

    const Description& description() const noexcept { return *description_; }

private:
    struct PendingAnswer {
        std::string text;
        Clock::time_point ready;
    };

    std::int32_t Raise(std::int32_t code) noexcept;
    std::int32_t Queue(std::string text, Clock::time_point ready);
    std::string Format(const Property& property, double value) const;

    std::shared_ptr<const Description> description_;
    std::vector<double> values_;
    std::deque<PendingAnswer> answers_;
    std::int32_t error_ = 0;
    bool errorCheck_ = true;
};

} // namespace simulator
