// Judging a replayed command field by field: result, error, each answer whole.
#include "replay/replay_judgement.h"

#include <algorithm>

namespace zelbridge::tool {
namespace {

std::string Error(std::int32_t code, const ErrorTexts& texts)
{
    const std::string text = code ? texts(code) : "";
    return "error " + std::to_string(code) + (text.empty() ? "" : " \"" + text + "\"");
}

} // namespace

std::string Shown(const std::string& text)
{
    constexpr std::size_t kShownLength = 60;
    if (text.size() <= kShownLength)
        return "\"" + text + "\"";
    return "\"" + text.substr(0, kShownLength) + "...\" (" + std::to_string(text.size()) + " characters)";
}

std::string Outcome(const Replayed& replayed, const ErrorTexts& replayedTexts)
{
    std::string outcome;
    if (replayed.result != 0 && replayed.result != replayed.error)
        outcome = "result " + std::to_string(replayed.result) + (replayed.error ? ", " : "");
    if (replayed.error)
        outcome += Error(replayed.error, replayedTexts);
    else if (outcome.empty())
        outcome = "ok";
    for (const std::string& answer : replayed.answers)
        outcome += " " + Shown(answer);
    return outcome;
}

std::string Differences(const recording::RecordedCommand& recorded, const Replayed& replayed, std::int32_t timeoutMs,
                        const ErrorTexts& recordedTexts, const ErrorTexts& replayedTexts)
{
    std::vector<std::string> fields;
    if (recorded.result != replayed.result)
        fields.push_back("recorded result " + std::to_string(recorded.result) + ", replayed result " +
                         std::to_string(replayed.result));
    if (recorded.error != replayed.error)
        fields.push_back("recorded " + Error(recorded.error, recordedTexts) + ", replayed " +
                         Error(replayed.error, replayedTexts));
    const std::size_t answers = std::max(recorded.answers.size(), replayed.answers.size());
    for (std::size_t i = 0; i < answers; ++i) {
        const std::string which = answers > 1 ? "answer " + std::to_string(i + 1) : "answer";
        if (i >= replayed.answers.size())
            fields.push_back("recorded " + which + " " + Shown(recorded.answers[i].text) + ", replayed " +
                             (replayed.answerFailure.empty()
                                  ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                  : replayed.answerFailure));
        else if (i >= recorded.answers.size())
            fields.push_back("recorded no " + which + ", replayed " + Shown(replayed.answers[i]));
        else if (recorded.answers[i].text != replayed.answers[i])
            fields.push_back("recorded " + which + " " + Shown(recorded.answers[i].text) + ", replayed " +
                             Shown(replayed.answers[i]));
    }
    if (fields.empty())
        return "";
    std::string text = "record " + std::to_string(recorded.record) + " " + recorded.text + ": ";
    for (std::size_t i = 0; i < fields.size(); ++i)
        text += (i ? "; " : "") + fields[i];
    return text;
}

} // namespace zelbridge::tool
