// How zelbridge replay judges a replayed command by its recording: what it
// shows of an outcome, and each field that differs, in words a person reads.
#pragma once

#include "recording/recording_reader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelbridge::tool {

// What a command got on the replay.
struct Replayed {
    std::int32_t result = 0;
    std::int32_t error = 0;
    std::vector<std::string> answers;
    // Why an answer could not be read, when it could not.
    std::string answerFailure;
};

// The text of an error code, empty when there is none.
using ErrorTexts = std::function<std::string(std::int32_t code)>;

// How much of one text a report shows: a person reads it at a glance, and a
// recorded megabyte does not flood the terminal.
inline constexpr std::size_t kShownLength = 60;
// The first `longest` bytes of `text` on one line: line ends, tabs, quotes
// and backslashes escaped as in C, control bytes and bytes that are not
// UTF-8 as \xNN; "..." when there was more.
std::string Escaped(const std::string& text, std::size_t longest);
// An answer quoted, whole while a person reads it at a glance, else its start and length.
std::string Shown(const std::string& text);
// A command as a report names it: unquoted, escaped, its length when cut.
std::string ShownCommand(const std::string& text);
// "ok", "error 7 \"Position out of limits\"", ... and each answer.
std::string Outcome(const Replayed& replayed, const ErrorTexts& replayedTexts);
// "record 11 MOVE X 80: recorded error 7 \"...\", replayed error 0", every
// field that differs, or empty when none does; `timeoutMs` is how long each
// answer was waited for.
std::string Differences(const recording::RecordedCommand& recorded, const Replayed& replayed, std::int32_t timeoutMs,
                        const ErrorTexts& recordedTexts, const ErrorTexts& replayedTexts);

} // namespace zelbridge::tool
