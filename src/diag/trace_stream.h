// The process-wide trace stream. Each item of a trace line is written by one
// operation, which decides anew where it goes: to the debugger output as a
// message of its own, onto the calling thread's line for the stream's file,
// or nowhere. A thread's line goes to the file whole, when it ends.
#pragma once

#include "recording/record_file.h"

#include <cstdint>
#include <memory>
#include <ostream>

namespace zelbridge {

using recording::RecordFile;

class TraceStream;
namespace detail {
// Defined with the stream's code; named here so that Instance() costs no call.
extern TraceStream theTraceStream;
} // namespace detail

class TraceStream {
public:
    using Manipulator = std::ostream& (*)(std::ostream&);

    // The process's stream, configured from ZELBRIDGE_TRACE when the module loads.
    static TraceStream& Instance() noexcept { return detail::theTraceStream; }

    // `setting` is the value of ZELBRIDGE_TRACE: null, "" or "0" disabled,
    // "debug" debug output, "file:PATH" appended to PATH; anything else disabled.
    explicit TraceStream(const char* setting);
    // The calling thread's unfinished line goes to the file first. The
    // process's stream keeps its file open: at exit other threads may still
    // be tracing, and the process's end closes it.
    ~TraceStream();
    // Writes the calling thread's unfinished line, closes the file and stops
    // tracing to it: when the module is unloaded from a process that runs on.
    void CloseFile() noexcept;
    TraceStream(const TraceStream&) = delete;
    TraceStream& operator=(const TraceStream&) = delete;

    // Each item is one write; a disabled stream returns at once, so that a
    // trace nobody reads costs one test per item on the forwarding path.
    TraceStream& operator<<(const char* text) { return enabled_ ? WriteText(text) : *this; }
    TraceStream& operator<<(std::int32_t value) { return enabled_ ? WriteSigned(value) : *this; }
    TraceStream& operator<<(std::uint32_t value) { return enabled_ ? WriteUnsigned(value) : *this; }
    TraceStream& operator<<(Manipulator manipulator) { return enabled_ ? WriteManipulator(manipulator) : *this; }

    // One text item of at most `capacity` bytes, ending at the first zero
    // within them: for buffers a driver may have left without a terminator.
    // Nothing is read when `text` is null or `capacity` is not positive.
    TraceStream& WriteBounded(const char* text, std::int32_t capacity);

    bool disabled() const noexcept { return !enabled_; }

    // Says, once, on the debug output, why a trace asked for is not made.
    void SayWarning() noexcept;
    // Sends the calling thread's unfinished line to the file now, in one
    // write: for an item that ends no line (the family answer echo) and must
    // not wait for the next line, which a process that dies never writes.
    void WriteHeldLine() noexcept;

private:
    TraceStream& WriteText(const char* text);
    TraceStream& WriteSigned(std::int32_t value);
    TraceStream& WriteUnsigned(std::uint32_t value);
    TraceStream& WriteManipulator(Manipulator manipulator);

    // Appends one item to the calling thread's line for file_.
    TraceStream& Append(const char* text, std::size_t length);

    // Set in file mode only.
    // Owned, but freed only by CloseFile(): see the destructor.
    RecordFile* file_ = nullptr;
    bool debugOutput_ = false;
    // Fixed when the stream is made: debug output or a file.
    bool enabled_ = false;
    // Why a trace asked for is not made, until SayWarning says it.
    char warning_[600] = "";
};

// Time-stamp manipulators.
std::ostream& GmtTimestamp(std::ostream& stream);
std::ostream& LocalTimestamp(std::ostream& stream);
using TimestampText = char[200];
// Formats into `text` and returns it.
const char* FormatLocalTimestamp(TimestampText& text) noexcept;

// Frees every thread's unfinished trace line: at the module's unload, after
// its stream's file is closed.
void FreeTraceLines() noexcept;

} // namespace zelbridge
