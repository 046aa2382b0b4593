// What a command does to a connection, as its description says.
#include "session.h"

#include "simulator_errors.h"

#include <charconv>

namespace simulator {

namespace {

const char* Flag(bool set)
{
    return set ? "1" : "0";
}

} // namespace

Session::Session(std::shared_ptr<const Description> description)
    : description_(std::move(description)), turns_(description_->answersInTurn, 0)
{
    Reset();
}

Session::Session(std::shared_ptr<const Description> errors, std::shared_ptr<const RecordedConnection> recorded,
                 bool recordedDelays)
    : description_(std::move(errors)), recorded_(std::move(recorded)), recordedDelays_(recordedDelays)
{
}

std::int32_t Session::Execute(std::string_view command, Clock::time_point now)
{
    if (recorded_)
        return Replay(command, now);
    std::vector<Number> numbers;
    const Response* response = description_->Find(NormaliseCommand(command), numbers);
    return response ? Perform(*response, numbers, now) : Raise(kUnknownCommand);
}

std::int32_t Session::Perform(const Response& response, const std::vector<Number>& numbers, Clock::time_point now)
{
    const Clock::time_point ready = now + response.delay;
    using Action = Response::Action;
    switch (response.action) {
    case Action::Answer:
        return Queue(ExpandAnswer(response.answer, numbers), ready);
    case Action::AnswerInTurn: {
        std::size_t& turn = turns_[response.index];
        const std::string& answer = response.answers[turn];
        turn = (turn + 1) % response.answers.size();
        return Queue(ExpandAnswer(answer, numbers), ready);
    }
    case Action::Accept:
        return kNoError;
    case Action::GetProperty:
        return Queue(Format(description_->properties[response.index].format, values_[response.index]), ready);
    case Action::SetProperty: {
        const Property& property = description_->properties[response.index];
        const double value = numbers.front().value;
        if ((property.min && value < *property.min) || (property.max && value > *property.max))
            return Raise(property.limitError);
        values_[response.index] = value;
        return kNoError;
    }
    case Action::RaiseError:
        return Raise(response.error);
    case Action::Reset:
        Reset();
        return kNoError;
    case Action::MoveTo:
        return MoveAxis(response.index, numbers.front().value, now);
    // Relative to where the axis is going, so that two relative moves add up
    // even when the second comes before the first has ended.
    case Action::MoveBy:
        return MoveAxis(response.index, axes_[response.index].Target() + numbers.front().value, now);
    case Action::Home:
        return MoveAxis(response.index, description_->axes[response.index].home, now);
    case Action::Stop:
        axes_[response.index].Stop(now);
        return kNoError;
    case Action::ReadPosition:
        return Queue(Format(description_->axes[response.index].format, axes_[response.index].Position(now)), ready);
    case Action::ReadOnTarget:
        return Queue(Flag(!axes_[response.index].Moving(now)), ready);
    case Action::ReadMoving:
        return Queue(Flag(axes_[response.index].Moving(now)), ready);
    }
    return Raise(kUnknownCommand);
}

// A command off the recording fails and says why; it never gets an answer
// the controller did not give. The recording stays where it was, so that
// the right command still replays.
std::int32_t Session::Replay(std::string_view command, Clock::time_point now)
{
    const std::string came = "\"" + std::string(command) + "\"";
    const std::vector<RecordedCommand>& commands = recorded_->commands;
    if (nextRecorded_ == commands.size()) {
        const std::size_t last = commands.empty() ? recorded_->record : commands.back().record;
        mismatch_ = "the recording holds no command after record " + std::to_string(last) +
                    " on this connection; came " + came;
    } else if (!SameCommand(commands[nextRecorded_].text, command, commands[nextRecorded_].cut)) {
        const RecordedCommand& expected = commands[nextRecorded_];
        mismatch_ = "record " + std::to_string(expected.record) + " expected \"" + expected.text + "\", came " + came;
    } else {
        const RecordedCommand& expected = commands[nextRecorded_++];
        // However many answers the controller gave: the recording bounds them.
        for (const RecordedAnswer& answer : expected.answers)
            answers_.push_back(PendingAnswer{answer.text, recordedDelays_ ? now + answer.delay : now});
        if (expected.error != kNoError)
            error_ = expected.error;
        return expected.result;
    }
    error_ = kReplayMismatch;
    return kReplayMismatch;
}

std::int32_t Session::MoveAxis(std::size_t axis, double target, Clock::time_point now)
{
    const Axis& limits = description_->axes[axis];
    if (!(target >= limits.min && target <= limits.max))
        return Raise(limits.limitError);
    axes_[axis].MoveTo(target, now);
    return kNoError;
}

void Session::Reset()
{
    values_.clear();
    for (const Property& property : description_->properties)
        values_.push_back(property.initial);
    axes_.clear();
    for (const Axis& axis : description_->axes)
        axes_.emplace_back(axis.initial, axis.velocity, axis.acceleration);
}

const std::string* Session::ReadyAnswer(Clock::time_point now, bool& waiting) const
{
    waiting = !answers_.empty() && answers_.front().ready > now;
    return answers_.empty() || waiting ? nullptr : &answers_.front().text;
}

void Session::DropAnswer()
{
    if (!answers_.empty())
        answers_.pop_front();
}

std::int32_t Session::Fail(std::int32_t code) noexcept
{
    if (error_ == kNoError)
        error_ = code;
    return code;
}

std::int32_t Session::TakeError() noexcept
{
    const std::int32_t error = error_;
    error_ = kNoError;
    return error;
}

std::int32_t Session::Raise(std::int32_t code) noexcept
{
    Fail(code);
    return errorCheck_ ? code : kNoError;
}

std::int32_t Session::Queue(std::string text, Clock::time_point ready)
{
    if (answers_.size() == kMostPendingAnswers)
        return Fail(kAnswerQueueFull);
    answers_.push_back(PendingAnswer{std::move(text), ready});
    return kNoError;
}

std::string Session::Format(const NumberFormat& format, double value)
{
    // Room for the longest double written out in full, with every decimal.
    char text[400];
    // Adding 0 turns -0 into 0: a controller does not answer "-0".
    value += 0.0;
    const std::to_chars_result written =
        format.decimals ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, *format.decimals)
                          : std::to_chars(text, text + sizeof text, value);
    std::string answer(text, written.ec == std::errc() ? written.ptr : text);
    if (!format.units.empty())
        answer += " " + format.units;
    return answer;
}

} // namespace simulator
