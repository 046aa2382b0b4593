// The process-wide trace stream. Each item of a trace line is written by one
// operation, which decides anew where it goes: to the debugger output, into
// the stream's own file buffer, or nowhere.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>

namespace zelbridge {

// Its presence alone selects stream mode; the stream owns and destroys it.
class TraceTarget {
public:
    virtual ~TraceTarget() = default;
};

class TraceStream : public std::ostream {
public:
    using Manipulator = std::ostream& (*)(std::ostream&);

    // The process's stream, configured from ZELBRIDGE_TRACE when the module loads.
    static TraceStream& Instance() noexcept;

    // `setting` is the value of ZELBRIDGE_TRACE: null, "" or "0" disabled,
    // "debug" debug output, "file:PATH" appended to PATH; anything else disabled.
    explicit TraceStream(const char* setting);
    ~TraceStream() override;
    TraceStream(const TraceStream&) = delete;
    TraceStream& operator=(const TraceStream&) = delete;

    TraceStream& operator<<(const char* text);
    TraceStream& operator<<(std::int32_t value);
    TraceStream& operator<<(std::uint32_t value);
    TraceStream& operator<<(Manipulator manipulator);

    bool disabled() const noexcept { return !debugOutput_ && !target_; }

private:
    std::unique_ptr<TraceTarget> target_;
    std::filebuf fileBuffer_;
    bool debugOutput_ = false;
};

// Time-stamp manipulators; the text lives in one shared buffer until the next
// time stamp is formatted.
std::ostream& GmtTimestamp(std::ostream& stream);
std::ostream& LocalTimestamp(std::ostream& stream);
const char* FormatLocalTimestamp() noexcept;

} // namespace zelbridge
