// JSON text: separators, and strings escaped so that any bytes make valid JSON.
#include "json_writer.h"

#include <cstdio>

namespace zelbridge::tool {
namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is not one. File
// names on Windows come in the ANSI code page, which is rarely UTF-8.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 && lead < 0xe0 ? 2 : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
    return length;
}

} // namespace

JsonWriter& JsonWriter::Key(const char* name)
{
    BeforeValue();
    WriteString(name);
    out_ << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::Value(const std::string& text)
{
    BeforeValue();
    WriteString(text);
    return *this;
}

JsonWriter& JsonWriter::Value(bool value)
{
    BeforeValue();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Value(std::int64_t value)
{
    BeforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    BeforeValue();
    out_ << "null";
    return *this;
}

JsonWriter& JsonWriter::Open(char bracket)
{
    BeforeValue();
    out_ << bracket;
    hasMember_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket)
{
    hasMember_.pop_back();
    out_ << bracket;
    if (hasMember_.empty())
        out_ << '\n';
    return *this;
}

void JsonWriter::BeforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasMember_.empty() && hasMember_.back())
        out_ << ',';
    if (!hasMember_.empty())
        hasMember_.back() = true;
}

void JsonWriter::WriteString(const std::string& text)
{
    out_ << '"';
    for (std::size_t at = 0; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            out_ << '\\' << text[at];
        } else if (c >= 0x20 && c < 0x80) {
            out_ << text[at];
        } else if (const std::size_t length = c >= 0x80 ? Utf8SequenceLength(text, at) : 0) {
            out_.write(text.data() + at, static_cast<std::streamsize>(length));
            at += length - 1;
        } else {
            // Control characters, and bytes of another code page read as Latin-1.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out_ << escaped;
        }
    }
    out_ << '"';
}

} // namespace zelbridge::tool
