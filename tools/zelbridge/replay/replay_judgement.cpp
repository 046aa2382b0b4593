// Judging a replayed command field by field: result, error, each answer whole.
#include "replay/replay_judgement.h"

#include <algorithm>

namespace zelbridge::tool {
namespace {

std::string Error(std::int32_t code, const ErrorTexts& texts)
{
    const std::string text = code ? texts(code) : "";
    return "error " + std::to_string(code) + (text.empty() ? "" : " " + Shown(text));
}

// The length of the UTF-8 sequence that starts at `at`, or 0 when the bytes
// there are not one.
std::size_t Utf8Sequence(const std::string& text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 0;
    return length;
}

} // namespace

std::string Escaped(const std::string& text, std::size_t longest)
{
    std::string shown;
    std::size_t at = 0;
    for (; at < text.size() && at < longest; ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte == '\\' || byte == '"') {
            shown += '\\';
            shown += static_cast<char>(byte);
        } else if (byte == '\n') {
            shown += "\\n";
        } else if (byte == '\r') {
            shown += "\\r";
        } else if (byte == '\t') {
            shown += "\\t";
        } else if (byte >= 0x20 && byte < 0x7F) {
            shown += static_cast<char>(byte);
        } else if (const std::size_t sequence = byte >= 0x80 ? Utf8Sequence(text, at) : 0) {
            shown.append(text, at, sequence);
            at += sequence - 1;
        } else {
            const char digits[] = "0123456789abcdef";
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        }
    }
    return at < text.size() ? shown + "..." : shown;
}

std::string Shown(const std::string& text)
{
    if (text.size() <= kShownLength)
        return "\"" + Escaped(text, kShownLength) + "\"";
    return "\"" + Escaped(text, kShownLength) + "\" (" + std::to_string(text.size()) + " characters)";
}

std::string ShownCommand(const std::string& text)
{
    if (text.size() <= kShownLength)
        return Escaped(text, kShownLength);
    return Escaped(text, kShownLength) + " (" + std::to_string(text.size()) + " characters)";
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
    std::string text = "record " + std::to_string(recorded.record) + " " + ShownCommand(recorded.text) + ": ";
    for (std::size_t i = 0; i < fields.size(); ++i)
        text += (i ? "; " : "") + fields[i];
    return text;
}

} // namespace zelbridge::tool
