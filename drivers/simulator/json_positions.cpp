// Recording value positions with a SAX pass over a byte-counting input.
#include "json_positions.h"

#include <iterator>
#include <set>
#include <vector>

namespace simulator {

namespace {

// Hands nlohmann the text byte by byte and counts what it has taken, so that
// each SAX event knows how far the parser has read.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* at, std::size_t* consumed) : at_(at), consumed_(consumed) {}
    reference operator*() const { return *at_; }
    CountingIterator& operator++()
    {
        ++at_;
        ++*consumed_;
        return *this;
    }
    bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
    bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

private:
    const char* at_;
    std::size_t* consumed_;
};

bool IsScalarTokenByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '-' ||
           c == '.';
}

// nlohmann's message without its tag and its own position, which the caller
// gives in its own words.
std::string Reason(const nlohmann::json::exception& failure)
{
    std::string message = failure.what();
    const std::size_t tag = message.find("] ");
    if (tag != std::string::npos)
        message.erase(0, tag + 2);
    constexpr char kPositioned[] = "parse error at ";
    const std::size_t position = message.rfind(kPositioned, 0);
    const std::size_t reason = message.find(": ");
    if (position == 0 && reason != std::string::npos)
        message.erase(0, reason + 2);
    return message;
}

std::string EscapePointerToken(const std::string& token)
{
    std::string escaped;
    for (const char c : token)
        escaped += c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c);
    return escaped;
}

} // namespace

// Fed by nlohmann's SAX parser. An event fires right after its token has been
// read: a string ends one byte before the count, a number one or two bytes
// before (the lexer reads one byte ahead to see where it ends), an object
// or array has just opened.
class PositionRecorder {
public:
    using json = nlohmann::json;

    PositionRecorder(std::string_view text, const std::size_t& consumed, JsonPositions& positions)
        : text_(text), consumed_(consumed), positions_(positions)
    {
    }

    bool null() { return Value(ScalarStart()); }
    bool boolean(bool) { return Value(ScalarStart()); }
    bool number_integer(json::number_integer_t) { return Value(ScalarStart()); }
    bool number_unsigned(json::number_unsigned_t) { return Value(ScalarStart()); }
    bool number_float(json::number_float_t, const json::string_t&) { return Value(ScalarStart()); }
    bool string(json::string_t&) { return Value(StringStart()); }
    bool binary(json::binary_t&) { return Value(ScalarStart()); }
    bool start_object(std::size_t) { return Open(true); }
    bool start_array(std::size_t) { return Open(false); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }

    bool key(json::string_t& name)
    {
        if (skippedDepth_ > 0)
            return true;
        Frame& frame = frames_.back();
        frame.key = name;
        if (frame.keys.insert(name).second)
            return true;
        positions_.problem_ = JsonPositions::Problem{StringStart(), "the key \"" + name + "\" is given twice in one object"};
        return false;
    }

    // `consumed` counts the byte the parser stopped at.
    bool parse_error(std::size_t consumed, const std::string&, const json::exception& failure)
    {
        positions_.problem_ = JsonPositions::Problem{consumed > 0 ? consumed - 1 : 0, Reason(failure)};
        return false;
    }

private:
    struct Frame {
        bool object = false;
        std::string path;
        std::size_t nextIndex = 0;
        std::string key;
        std::set<std::string> keys;
    };

    std::size_t StringStart() const
    {
        // Back from the closing quote to the opening one: a quote preceded
        // by an even number of backslashes.
        for (std::size_t at = consumed_ - 1; at-- > 0;) {
            if (text_[at] != '"')
                continue;
            std::size_t backslashes = 0;
            while (backslashes < at && text_[at - 1 - backslashes] == '\\')
                ++backslashes;
            if (backslashes % 2 == 0)
                return at;
        }
        return 0;
    }

    std::size_t ScalarStart() const
    {
        std::size_t start = consumed_;
        if (start > 0 && !IsScalarTokenByte(text_[start - 1]))
            --start;
        while (start > 0 && IsScalarTokenByte(text_[start - 1]))
            --start;
        return start;
    }

    bool Deep() const { return skippedDepth_ > 0 || frames_.size() >= JsonPositions::kDeepestRecorded; }

    // The pointer of the value that has just been read.
    std::string NextPath()
    {
        if (frames_.empty())
            return "";
        Frame& frame = frames_.back();
        return frame.path + "/" + (frame.object ? EscapePointerToken(frame.key) : std::to_string(frame.nextIndex++));
    }

    bool Value(std::size_t start)
    {
        if (!Deep())
            positions_.offsets_[NextPath()] = start;
        return true;
    }

    bool Open(bool object)
    {
        if (Deep()) {
            ++skippedDepth_;
            return true;
        }
        std::string path = NextPath();
        positions_.offsets_[path] = consumed_ - 1;
        frames_.emplace_back();
        frames_.back().object = object;
        frames_.back().path = std::move(path);
        return true;
    }

    bool Close()
    {
        if (skippedDepth_ > 0)
            --skippedDepth_;
        else
            frames_.pop_back();
        return true;
    }

    std::string_view text_;
    const std::size_t& consumed_;
    JsonPositions& positions_;
    std::vector<Frame> frames_;
    std::size_t skippedDepth_ = 0;
};

TextPosition PositionOf(std::string_view text, std::size_t offset)
{
    if (offset > text.size())
        offset = text.size();
    TextPosition position{1, 1};
    for (std::size_t at = 0; at < offset; ++at) {
        if (text[at] == '\n') {
            ++position.line;
            position.column = 1;
        } else {
            ++position.column;
        }
    }
    return position;
}

JsonPositions::JsonPositions(std::string_view text)
{
    std::size_t consumed = 0;
    PositionRecorder recorder(text, consumed, *this);
    nlohmann::json::sax_parse(CountingIterator(text.data(), &consumed),
                              CountingIterator(text.data() + text.size(), &consumed), &recorder);
}

std::size_t JsonPositions::OffsetOf(nlohmann::json::json_pointer pointer) const
{
    for (;;) {
        const auto found = offsets_.find(pointer.to_string());
        if (found != offsets_.end())
            return found->second;
        if (pointer.empty())
            return 0;
        pointer.pop_back();
    }
}

} // namespace simulator
