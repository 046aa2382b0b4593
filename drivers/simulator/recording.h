// A recorded session as the simulator replays it: per connection, in the
// order the connections were made, the commands with the answers, results
// and errors the controller gave them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {

struct RecordedAnswer {
    std::string text;
    // From the command to the read that got the answer.
    std::chrono::milliseconds delay;
};

struct RecordedCommand {
    // The record's line in the file, from 1.
    std::size_t record;
    std::string text;
    std::int32_t result;
    std::vector<RecordedAnswer> answers;
    // What GetError reported after the command, before the next one; 0 for none.
    std::int32_t error = 0;
    double atMs = 0;
};

struct RecordedConnection {
    // The record of the connect, from 1.
    std::size_t record;
    std::vector<RecordedCommand> commands;
};

struct Recording {
    // In the order of their connects.
    std::vector<std::shared_ptr<const RecordedConnection>> connections;
    // The texts TranslateError gave.
    std::map<std::int32_t, std::string> errors;
    std::size_t records = 0;
};

struct LoadedRecording {
    // Null when the file could not be used ...
    std::shared_ptr<const Recording> recording;
    // ... and then, with the file name and the record, why not.
    std::string reason;
};

// Whether `text` is a recording: its first line is an object naming an entry point.
bool IsRecording(std::string_view text) noexcept;
// Reads a recording's text; `fileName` is only used in messages.
LoadedRecording ParseRecording(std::string_view text, const std::string& fileName) noexcept;
// The recording in the file at `path`, or nothing when the file is not one.
std::optional<LoadedRecording> LoadRecordingIfOne(const std::string& path) noexcept;

} // namespace simulator
