// The trace stream's modes and write operations, and the time-stamp manipulators.
#include "diag/trace_stream.h"

#include "api/spin_lock.h"
#include "diag/quiet_calls.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <streambuf>
#include <string>

namespace zelbridge {
namespace {

const char* FormatTimestamp(std::tm* (*convert)(const std::time_t*), const char* format, TimestampText& text) noexcept
{
    const std::time_t now = std::time(nullptr);
    const std::tm* parts = convert(&now);
    if (!parts || std::strftime(text, sizeof text - 1, format, parts) == 0)
        text[0] = '\0';
    return text;
}

const char* FormatGmtTimestamp(TimestampText& text) noexcept
{
    return FormatTimestamp(&std::gmtime, "%H:%M:%S - %A, %B %d, %Y (GMT)", text);
}

// The line a thread is gathering for a trace file. Plain data, made on the
// thread's first trace item and freed when the thread ends or the module is
// unloaded; a process that exits keeps it, so that reading it stays safe.
struct PendingLine {
    // A line longer than this goes out in pieces of this size.
    static constexpr std::size_t kCapacity = 1024;

    const RecordFile* file;
    std::size_t length;
    char text[kCapacity];
    // Every thread's line, for the unload to free.
    PendingLine* next;
    PendingLine* previous;
};

// The lines of all threads, for FreeTraceLines(); changed only when a thread
// makes its first line or ends.
class LineList {
public:
    void Add(PendingLine* line) noexcept
    {
        const std::lock_guard<SpinLock> guard(lock_);
        line->next = first_;
        if (first_)
            first_->previous = line;
        first_ = line;
    }
    void Remove(PendingLine* line) noexcept
    {
        const std::lock_guard<SpinLock> guard(lock_);
        (line->previous ? line->previous->next : first_) = line->next;
        if (line->next)
            line->next->previous = line->previous;
    }
    PendingLine* TakeAll() noexcept
    {
        const std::lock_guard<SpinLock> guard(lock_);
        PendingLine* const all = first_;
        first_ = nullptr;
        return all;
    }

private:
    SpinLock lock_;
    PendingLine* first_ = nullptr;
};
LineList allLines;

void FreeLine(void* value)
{
    auto* line = static_cast<PendingLine*>(value);
    allLines.Remove(line);
    delete line;
}

platform::ThreadSlot lineSlot(&FreeLine);

PendingLine* CurrentLine() noexcept
{
    return static_cast<PendingLine*>(lineSlot.Get());
}

// The calling thread's line for `file`, null when none can be made. What it
// held for another file is dropped: that file's stream may be gone.
PendingLine* LineFor(const RecordFile& file) noexcept
{
    PendingLine* line = CurrentLine();
    if (!line) {
        line = new (std::nothrow) PendingLine{};
        if (!line)
            return nullptr;
        if (!lineSlot.Set(line)) {
            delete line;
            return nullptr;
        }
        allLines.Add(line);
    }
    if (line->file != &file) {
        line->file = &file;
        line->length = 0;
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
    PendingLine* const current = LineFor(file);
    if (!current)
        return;
    PendingLine& line = *current;
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

// A trace that was asked for and is not there is said once, on the debug
// output, so that a wrong setting does not look like a quiet program: by
// SayWarning, when the module attaches, and not by a program that links
// the same code for other purposes (the zelbridge tool), which would say
// it a second time.
TraceStream::TraceStream(const char* setting)
{
    const char* filePrefix = "file:";
    const std::size_t filePrefixLength = std::strlen(filePrefix);
    if (setting && std::strncmp(setting, filePrefix, filePrefixLength) == 0 && setting[filePrefixLength] != '\0') {
        const char* path = setting + filePrefixLength;
        auto file = std::make_unique<RecordFile>();
        char reason[256] = "reason unknown";
        if (file->Open(path, reason, sizeof reason)) {
            file_ = file.release();
            enabled_ = true;
        } else {
            std::snprintf(warning_, sizeof warning_,
                          "Zelbridge: the trace file %s named by ZELBRIDGE_TRACE cannot be opened (%s); nothing is traced\n",
                          path, reason);
        }
        if (this == &Instance())
            SetCallWriter(kTraceWrites, enabled_);
        return;
    }
    debugOutput_ = setting && std::strcmp(setting, "debug") == 0;
    enabled_ = debugOutput_;
    if (!enabled_ && setting && *setting != '\0' && std::strcmp(setting, "0") != 0) {
        std::snprintf(warning_, sizeof warning_,
                      "Zelbridge: ZELBRIDGE_TRACE=%s is not understood (debug, file:PATH or 0); nothing is traced\n",
                      setting);
    }
    if (this == &Instance())
        SetCallWriter(kTraceWrites, enabled_);
}

TraceStream::~TraceStream()
{
    // The process's stream leaves its file to the process's end, where the
    // operating system closes it: a thread still calling may be tracing
    // through it. Every line is already written, so nothing is lost.
    if (this == &Instance()) {
        PendingLine* const line = CurrentLine();
        if (file_ && line && line->file == file_)
            Emit(*line, *file_);
        return;
    }
    CloseFile();
}

void TraceStream::SayWarning() noexcept
{
    if (warning_[0] == '\0')
        return;
    platform::DebugOutput(warning_);
    warning_[0] = '\0';
}

void TraceStream::WriteHeldLine() noexcept
{
    if (!enabled_ || debugOutput_)
        return;
    PendingLine* const line = CurrentLine();
    if (line && line->file == file_)
        Emit(*line, *file_);
}

void TraceStream::CloseFile() noexcept
{
    if (!file_)
        return;
    PendingLine* const line = CurrentLine();
    if (line && line->file == file_)
        Emit(*line, *file_);
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
    TimestampText timestamp;
    if (manipulator == &GmtTimestamp)
        text = FormatGmtTimestamp(timestamp);
    else if (manipulator == &LocalTimestamp)
        text = FormatLocalTimestamp(timestamp);
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
    TimestampText text;
    return stream << FormatGmtTimestamp(text);
}

std::ostream& LocalTimestamp(std::ostream& stream)
{
    TimestampText text;
    return stream << FormatLocalTimestamp(text);
}

const char* FormatLocalTimestamp(TimestampText& text) noexcept
{
    return FormatTimestamp(&std::localtime, "%H:%M:%S - %A, %B %d, %Y", text);
}

void FreeTraceLines() noexcept
{
    for (PendingLine* line = allLines.TakeAll(); line;) {
        PendingLine* const next = line->next;
        delete line;
        line = next;
    }
    lineSlot.Set(nullptr);
}

} // namespace zelbridge
