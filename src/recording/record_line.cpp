// Composing the recording's lines: JSON whose texts keep every byte the
// caller or the driver gave.
#include "recording/record_line.h"

#include "recording/recording_format.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace zelbridge::recording {

bool RecordLine::Reserve(std::size_t more) noexcept
{
    if (length_ + more + kClosingRoom <= capacity_)
        return true;
    std::size_t capacity = capacity_ * 2;
    while (capacity < length_ + more + kClosingRoom)
        capacity *= 2;
    std::unique_ptr<char[]> larger(new (std::nothrow) char[capacity]);
    if (!larger)
        return false;
    std::memcpy(larger.get(), text_, length_);
    heap_ = std::move(larger);
    text_ = heap_.get();
    capacity_ = capacity;
    return true;
}

void RecordLine::Put(const char* text, std::size_t length) noexcept
{
    // Only the fixed parts of a record come here; the closing room takes them
    // even when memory ran out for a long text.
    if (!Reserve(length) && length_ + length > capacity_)
        return;
    std::memcpy(text_ + length_, text, length);
    length_ += length;
}

void RecordLine::Put(const char* text) noexcept
{
    Put(text, std::strlen(text));
}

void RecordLine::PutField(const char* name) noexcept
{
    Put(firstField_ ? "{\"" : ",\"");
    firstField_ = false;
    Put(name);
    Put("\":");
}

void RecordLine::PutNumber(long long value) noexcept
{
    char number[24];
    Put(number, static_cast<std::size_t>(std::snprintf(number, sizeof number, "%lld", value)));
}

void RecordLine::PutDouble(double value) noexcept
{
    char number[32];
    // Seventeen digits give the double back exactly.
    const int written = std::snprintf(number, sizeof number, "%.17g", value);
    // JSON has no infinity or NaN.
    const bool finite = value == value && value - value == 0.0;
    Put(finite ? number : "null", finite ? static_cast<std::size_t>(written) : 4);
}

namespace {

bool Plain(unsigned char byte) noexcept
{
    return byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\';
}

} // namespace

// Bytes outside printable ASCII are written as \u00XX, one code point per
// byte, so that any bytes a caller sent come back as the same bytes.
bool RecordLine::PutString(const char* text, std::size_t length) noexcept
{
    bool whole = length <= kTextBound;
    if (!whole)
        length = kTextBound;
    std::size_t escaped = 2;
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        escaped += Plain(byte) ? 1 : (byte == '"' || byte == '\\') ? 2 : 6;
    }
    if (!Reserve(escaped)) {
        // Out of memory: as much as the buffer at hand holds.
        whole = false;
        const std::size_t used = length_ + kClosingRoom;
        const std::size_t room = capacity_ > used ? capacity_ - used : 0;
        length = room / 6;
    }
    text_[length_++] = '"';
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (Plain(byte)) {
            text_[length_++] = static_cast<char>(byte);
        } else if (byte == '"' || byte == '\\') {
            text_[length_++] = '\\';
            text_[length_++] = static_cast<char>(byte);
        } else {
            std::snprintf(text_ + length_, 7, "\\u%04x", byte);
            length_ += 6;
        }
    }
    text_[length_++] = '"';
    return whole;
}

void RecordLine::Close() noexcept
{
    Put("}\n");
}

void ComposeSessionRecord(RecordLine& line, std::uint32_t processId, long long secondsSinceEpoch) noexcept
{
    line.PutField(kFormatField);
    line.PutString(kFormatName, sizeof kFormatName - 1);
    line.PutField(kVersionField);
    line.PutNumber(kFormatVersion);
    line.PutField(kProcessField);
    line.PutNumber(processId);
    line.PutField(kStartedField);
    const std::time_t now = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char started[32];
    const std::size_t length = std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &utc);
    line.PutString(started, length);
    line.Close();
}

} // namespace zelbridge::recording
