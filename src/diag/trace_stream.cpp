// The trace stream's modes and write operations, and the time-stamp manipulators.
#include "diag/trace_stream.h"

#include "diag/quiet_calls.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <streambuf>
#include <string>

namespace zelbridge {
namespace {

// Per thread: several threads may format a time stamp at once.
thread_local char timestampText[200];

const char* FormatTimestamp(std::tm* (*convert)(const std::time_t*), const char* format) noexcept
{
    const std::time_t now = std::time(nullptr);
    const std::tm* parts = convert(&now);
    if (!parts || std::strftime(timestampText, 199, format, parts) == 0)
        timestampText[0] = '\0';
    return timestampText;
}

const char* FormatGmtTimestamp() noexcept
{
    return FormatTimestamp(&std::gmtime, "%H:%M:%S - %A, %B %d, %Y (GMT)");
}

// The line a thread is gathering for a trace file. Plain data, so that it
// needs no construction and no destruction on any thread, and lives as long
// as the thread: reading it is safe even while the process exits.
struct PendingLine {
    // A line longer than this goes out in pieces of this size.
    static constexpr std::size_t kCapacity = 1024;

    const RecordFile* file;
    std::size_t length;
    char text[kCapacity];
};
thread_local PendingLine pendingLine;

// The calling thread's line for `file`. What it held for another file is
// dropped: that file's stream may be gone.
PendingLine& LineFor(const RecordFile& file) noexcept
{
    PendingLine& line = pendingLine;
    if (line.file != &file) {
        line.file = &file;
        line.length = 0;
    }
    return line;
}

void Emit(PendingLine& line, RecordFile& file) noexcept
{
    if (line.length > 0)
        file.Append(line.text, line.length);
    line.length = 0;
}

// Adds `length` bytes to the line; each line end, and a full line, sends
// what is gathered to the file in one append.
void AppendToLine(RecordFile& file, const char* text, std::size_t length) noexcept
{
    PendingLine& line = LineFor(file);
    while (length > 0) {
        const std::size_t room = PendingLine::kCapacity - line.length;
        const std::size_t span = std::min(length, room);
        const void* lineEnd = std::memchr(text, '\n', span);
        const std::size_t taken = lineEnd ? static_cast<std::size_t>(static_cast<const char*>(lineEnd) - text) + 1 : span;
        std::memcpy(line.text + line.length, text, taken);
        line.length += taken;
        text += taken;
        length -= taken;
        if (lineEnd || line.length == PendingLine::kCapacity)
            Emit(line, file);
    }
}

// Lets a manipulator other than the stream's own write onto a thread's line
// through an ostream of the caller's making.
class LineBuffer final : public std::streambuf {
public:
    explicit LineBuffer(RecordFile& file) noexcept : file_(file) {}

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        AppendToLine(file_, text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char character = traits_type::to_char_type(c);
        AppendToLine(file_, &character, 1);
        return c;
    }

private:
    RecordFile& file_;
};

} // namespace

// Constructed while the module loads, before anything can trace, and
// destroyed after everything else at exit.
TraceStream detail::theTraceStream __attribute__((init_priority(101)))(platform::Setting("ZELBRIDGE_TRACE"));

TraceStream::TraceStream(const char* setting)
{
    const char* filePrefix = "file:";
    const std::size_t filePrefixLength = std::strlen(filePrefix);
    if (setting && std::strncmp(setting, filePrefix, filePrefixLength) == 0 && setting[filePrefixLength] != '\0') {
        auto file = std::make_unique<RecordFile>();
        char reason[8];
        if (file->Open(setting + filePrefixLength, reason, sizeof reason))
            file_ = file.release();
        enabled_ = file_ != nullptr;
        if (this == &Instance())
            SetCallWriter(kTraceWrites, enabled_);
        return;
    }
    debugOutput_ = setting && std::strcmp(setting, "debug") == 0;
    enabled_ = debugOutput_;
    if (this == &Instance())
        SetCallWriter(kTraceWrites, enabled_);
}

TraceStream::~TraceStream()
{
    // The process's stream leaves its file to the process's end, where the
    // operating system closes it: a thread still calling may be tracing
    // through it. Every line is already written, so nothing is lost.
    if (this == &Instance()) {
        if (file_ && pendingLine.file == file_)
            Emit(pendingLine, *file_);
        return;
    }
    CloseFile();
}

void TraceStream::CloseFile() noexcept
{
    if (!file_)
        return;
    if (pendingLine.file == file_)
        Emit(pendingLine, *file_);
    enabled_ = false;
    delete file_;
    file_ = nullptr;
}

TraceStream& TraceStream::Append(const char* text, std::size_t length)
{
    AppendToLine(*file_, text, length);
    return *this;
}

TraceStream& TraceStream::WriteText(const char* text)
{
    if (!text)
        return *this;
    if (debugOutput_) {
        platform::DebugOutput(text);
        return *this;
    }
    return Append(text, std::strlen(text));
}

TraceStream& TraceStream::WriteSigned(std::int32_t value)
{
    char text[100];
    const int length = std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    if (debugOutput_) {
        platform::DebugOutput(text);
        return *this;
    }
    return Append(text, static_cast<std::size_t>(length));
}

TraceStream& TraceStream::WriteUnsigned(std::uint32_t value)
{
    char text[100];
    const int length = std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
    if (debugOutput_) {
        platform::DebugOutput(text);
        return *this;
    }
    return Append(text, static_cast<std::size_t>(length));
}

TraceStream& TraceStream::WriteManipulator(Manipulator manipulator)
{
    const char* text = "\n";
    if (manipulator == &GmtTimestamp)
        text = FormatGmtTimestamp();
    else if (manipulator == &LocalTimestamp)
        text = FormatLocalTimestamp();
    else if (!debugOutput_ && manipulator != static_cast<Manipulator>(&std::endl<char, std::char_traits<char>>)) {
        // Made only for a manipulator of a caller's own: an ostream per call
        // keeps every formatting state on this thread.
        LineBuffer buffer(*file_);
        std::ostream line(&buffer);
        manipulator(line);
        return *this;
    }
    if (debugOutput_) {
        platform::DebugOutput(text);
        return *this;
    }
    return Append(text, std::strlen(text));
}

TraceStream& TraceStream::WriteBounded(const char* text, std::int32_t capacity)
{
    if (!enabled_ || !text || capacity <= 0)
        return *this;
    const std::size_t length = strnlen(text, static_cast<std::size_t>(capacity));
    if (debugOutput_) {
        // The debugger takes zero-terminated texts only; the copy is made
        // only while somebody reads the trace.
        const std::string item(text, length);
        platform::DebugOutput(item.c_str());
        return *this;
    }
    return Append(text, length);
}

std::ostream& GmtTimestamp(std::ostream& stream)
{
    return stream << FormatGmtTimestamp();
}

std::ostream& LocalTimestamp(std::ostream& stream)
{
    return stream << FormatLocalTimestamp();
}

const char* FormatLocalTimestamp() noexcept
{
    return FormatTimestamp(&std::localtime, "%H:%M:%S - %A, %B %d, %Y");
}

} // namespace zelbridge
