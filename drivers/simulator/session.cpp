// What a command does to a connection, as its description says.
#include "session.h"

#include "simulator_errors.h"

#include <charconv>

namespace simulator {

Session::Session(std::shared_ptr<const Description> description) : description_(std::move(description))
{
    for (const Property& property : description_->properties)
        values_.push_back(property.initial);
}

std::int32_t Session::Execute(std::string_view command, Clock::time_point now)
{
    std::vector<Number> numbers;
    const Response* response = description_->Find(NormaliseCommand(command), numbers);
    if (!response)
        return Raise(kUnknownCommand);
    switch (response->action) {
    case Response::Action::Answer:
        return Queue(ExpandAnswer(response->answer, numbers), now + response->delay);
    case Response::Action::GetProperty:
        return Queue(Format(description_->properties[response->property], values_[response->property]),
                     now + response->delay);
    case Response::Action::SetProperty: {
        const Property& property = description_->properties[response->property];
        const double value = numbers.front().value;
        if ((property.min && value < *property.min) || (property.max && value > *property.max))
            return Raise(property.limitError);
        values_[response->property] = value;
        return kNoError;
    }
    case Response::Action::RaiseError:
        break;
    }
    return Raise(response->error);
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

std::string Session::Format(const Property& property, double value) const
{
    // Room for the longest double written out in full, with every decimal.
    char text[400];
    // Adding 0 turns -0 into 0: a controller does not answer "-0".
    value += 0.0;
    const std::to_chars_result written =
        property.decimals ? std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, *property.decimals)
                          : std::to_chars(text, text + sizeof text, value);
    std::string answer(text, written.ec == std::errc() ? written.ptr : text);
    if (!property.units.empty())
        answer += " " + property.units;
    return answer;
}

} // namespace simulator
