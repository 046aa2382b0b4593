// The trace stream's modes and write operations, and the time-stamp manipulators.
#include "diag/trace_stream.h"

#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace zelbridge {
namespace {

char timestampText[200];

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

// Marks stream mode for a trace the user asked to have in a file.
class FileTraceTarget final : public TraceTarget {};

} // namespace

// Constructed while the module loads, before anything can trace, and
// destroyed after everything else at exit.
TraceStream detail::theTraceStream __attribute__((init_priority(101)))(platform::Setting("ZELBRIDGE_TRACE"));

TraceStream::TraceStream(const char* setting) : std::ostream(nullptr)
{
    rdbuf(&fileBuffer_);
    const char* filePrefix = "file:";
    const std::size_t filePrefixLength = std::strlen(filePrefix);
    if (setting && std::strncmp(setting, filePrefix, filePrefixLength) == 0 && setting[filePrefixLength] != '\0') {
        // Unbuffered, so that a trace ends with the last item written even
        // when the process dies.
        fileBuffer_.pubsetbuf(nullptr, 0);
        if (fileBuffer_.open(setting + filePrefixLength, std::ios_base::out | std::ios_base::app))
            target_ = std::make_unique<FileTraceTarget>();
        enabled_ = target_ != nullptr;
        return;
    }
    fileBuffer_.open(platform::kNullDevice, std::ios_base::out);
    debugOutput_ = setting && std::strcmp(setting, "debug") == 0;
    enabled_ = debugOutput_;
}

TraceStream::~TraceStream()
{
    target_.reset();
}

TraceStream& TraceStream::WriteText(const char* text)
{
    if (!text)
        return *this;
    if (debugOutput_)
        platform::DebugOutput(text);
    else if (target_)
        static_cast<std::ostream&>(*this) << text;
    return *this;
}

TraceStream& TraceStream::WriteSigned(std::int32_t value)
{
    if (debugOutput_) {
        char text[100];
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
        platform::DebugOutput(text);
    } else if (target_) {
        static_cast<std::ostream&>(*this) << value;
    }
    return *this;
}

TraceStream& TraceStream::WriteUnsigned(std::uint32_t value)
{
    if (debugOutput_) {
        char text[100];
        std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
        platform::DebugOutput(text);
    } else if (target_) {
        static_cast<std::ostream&>(*this) << value;
    }
    return *this;
}

TraceStream& TraceStream::WriteManipulator(Manipulator manipulator)
{
    if (debugOutput_) {
        if (manipulator == &GmtTimestamp)
            platform::DebugOutput(FormatGmtTimestamp());
        else if (manipulator == &LocalTimestamp)
            platform::DebugOutput(FormatLocalTimestamp());
        else
            platform::DebugOutput("\n");
    } else if (target_) {
        manipulator(*this);
    }
    return *this;
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
    } else {
        write(text, static_cast<std::streamsize>(length));
    }
    return *this;
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
