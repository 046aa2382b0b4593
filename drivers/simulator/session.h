// One simulated connection: the description it answers from, the values of
// its properties, where its axes are going, the answers it owes and the
// error it has not reported yet.
#pragma once

#include "axis_motion.h"
#include "description.h"
#include "recording/recording_reader.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

using zelbridge::recording::LoadedRecording;
using zelbridge::recording::LoadRecordingIfOne;
using zelbridge::recording::RecordedAnswer;
using zelbridge::recording::RecordedCommand;
using zelbridge::recording::RecordedConnection;
using zelbridge::recording::Recording;

class Session {
public:
    static constexpr std::size_t kMostPendingAnswers = 64;

    explicit Session(std::shared_ptr<const Description> description);
    // Replays `recorded` instead: each command must be the next one it
    // holds, and gets the recorded result, answers and error. `errors`
    // holds the recording's error texts; `recordedDelays` makes answers
    // ready as late as they were.
    Session(std::shared_ptr<const Description> errors, std::shared_ptr<const RecordedConnection> recorded,
            bool recordedDelays);

    // Runs a command and queues its answer, if it has one. Returns 0 or a
    // failure code, which stays for TakeError: the simulator's own, or the
    // code of an error the command raised, which with error checking off
    // is only kept, and the command returns 0.
    std::int32_t Execute(std::string_view command, Clock::time_point now);

    // The oldest answer once its delay has passed; null when there is none,
    // and then `waiting` tells whether one is still to come.
    const std::string* ReadyAnswer(Clock::time_point now, bool& waiting) const;
    void DropAnswer();

    // Keeps `code` for TakeError unless an error is already waiting there:
    // the first error explains the ones that follow it, as on a controller
    // whose error register holds one code until it is read. Returns `code`.
    std::int32_t Fail(std::int32_t code) noexcept;
    // The pending error, once; 0 when there is none.
    std::int32_t TakeError() noexcept;
    void SetErrorCheck(bool enabled) noexcept { errorCheck_ = enabled; }

    const Description& description() const noexcept { return *description_; }
    bool replaying() const noexcept { return recorded_ != nullptr; }
    // What the last command that did not follow the recording was, and what came.
    const std::string& mismatch() const noexcept { return mismatch_; }

private:
    struct PendingAnswer {
        std::string text;
        Clock::time_point ready;
    };

    // What the response makes the connection do; the description is one
    // source of responses, and the only one so far.
    std::int32_t Perform(const Response& response, const std::vector<Number>& numbers, Clock::time_point now);
    std::int32_t Replay(std::string_view command, Clock::time_point now);
    std::int32_t MoveAxis(std::size_t axis, double target, Clock::time_point now);
    // Every property and axis as the description starts them.
    void Reset();
    std::int32_t Raise(std::int32_t code) noexcept;
    std::int32_t Queue(std::string text, Clock::time_point ready);
    static std::string Format(const NumberFormat& format, double value);

    std::shared_ptr<const Description> description_;
    std::vector<double> values_;
    std::vector<AxisMotion> axes_;
    std::deque<PendingAnswer> answers_;
    // Per AnswerInTurn response, the answer it gives next; a reset leaves
    // them, as it leaves the answers owed.
    std::vector<std::size_t> turns_;
    std::int32_t error_ = 0;
    bool errorCheck_ = true;
    std::shared_ptr<const RecordedConnection> recorded_;
    std::size_t nextRecorded_ = 0;
    bool recordedDelays_ = false;
    std::string mismatch_;
};

} // namespace simulator
