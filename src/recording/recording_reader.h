// A recording as its readers use it (the simulator replays it, the tool
// checks a replay against it): per process, per connection in the order the
// connections were made, the commands with the answers, results and errors
// the controller gave them.
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

namespace zelbridge::recording {

struct RecordedAnswer {
    // The record of the read that got it, from 1.
    std::size_t record = 0;
    std::string text;
    // From the command to the read that got the answer.
    std::chrono::milliseconds delay{0};
    // The text is the first part only of an answer of `length` bytes, when
    // the recording says how long it was.
    bool cut = false;
    std::optional<std::size_t> length;
};

struct RecordedCommand {
    // The record's line in the file, from 1.
    std::size_t record = 0;
    std::string text;
    // The text is the first part only of a longer command.
    bool cut = false;
    std::int32_t result = 0;
    std::vector<RecordedAnswer> answers;
    // What GetError reported after the command, before the next one; 0 for none.
    std::int32_t error = 0;
    double atMs = 0;
};

struct RecordedConnection {
    // The record of the connect, from 1.
    std::size_t record = 0;
    // Of the recording's processes, the one that made it.
    std::size_t process = 0;
    std::vector<RecordedCommand> commands;
};

// The records of one process: those after its session record with its
// identifier, or, in a file written before the format had a version, all.
struct RecordedProcess {
    // None for records without one.
    std::optional<std::int64_t> pid;
    std::string started;
    // Its first record.
    std::size_t record = 0;
};

// A record the reader did not use, and why: every record of a file is used
// or named so, never passed over in silence.
enum class FaultKind {
    kUnreadable, // not JSON: torn by a writer that died, or edited
    kInvalid,    // a member or value the published schema does not allow
    kOutOfPlace, // valid on its own, but not where it stands (no session, no system, ...)
};

struct RecordFault {
    // The record's line, from 1, and the offset of the bad bytes in the file.
    std::size_t record = 0;
    std::size_t offset = 0;
    FaultKind kind = FaultKind::kInvalid;
    std::string reason;
};

// The records read, by kind; faults and blank lines are not among them.
struct RecordCounts {
    std::size_t sessions = 0;
    std::size_t generic = 0;
    std::size_t family = 0;
    std::size_t graph = 0;
};

// Where a record the reader used starts: on a line of its own, or after
// the torn bytes of a record another writer left unfinished.
struct AcceptedRecord {
    std::size_t record = 0;
    std::size_t offset = 0;
};

struct Recording {
    // In the order of their first records.
    std::vector<RecordedProcess> processes;
    // The first process's connections in the order of their connects, then
    // the next process's: each process's calls stay with its own connections.
    std::vector<std::shared_ptr<const RecordedConnection>> connections;
    // The texts TranslateError gave.
    std::map<std::int32_t, std::string> errors;
    // The number of lines.
    std::size_t records = 0;
    RecordCounts counts;
    // In the order of the file; their records take no part in the rest.
    std::vector<RecordFault> faults;
    // Every record used, sessions too, in the order of the file: tools that
    // read more of a record than the reader keeps read these and no other.
    std::vector<AcceptedRecord> accepted;
};

// A recording whose records the reader could not all use is still read:
// the faults say which it left out. Only a file that is no recording, or in
// a later version of the format, is refused whole.
struct LoadedRecording {
    // Null when the file could not be used ...
    std::shared_ptr<const Recording> recording;
    // ... and then, one line naming the file and, where there is one, the
    // record, why not.
    std::string reason;
};

// Whether `text` is a recording: its first line is a session record or an
// object naming an entry point.
bool IsRecording(std::string_view text) noexcept;
// "record 12 (byte 830): ..." for a report.
std::string Describe(const RecordFault& fault);
// Reads a recording's text; `fileName` is only used in messages.
LoadedRecording ParseRecording(std::string_view text, const std::string& fileName) noexcept;
// The recording in the file at `path`; a file that cannot be read gives the
// reason, with the file's name and the system's words.
LoadedRecording LoadRecording(const std::string& path) noexcept;
// The recording in the file at `path`, or nothing when the file cannot be
// read or is not a recording.
std::optional<LoadedRecording> LoadRecordingIfOne(const std::string& path) noexcept;

} // namespace zelbridge::recording
