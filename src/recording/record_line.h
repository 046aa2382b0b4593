// One line of the recording file, composed in a buffer on the stack and, for
// a record longer than that, on the heap: only while recording, never on the
// path of a call that is not recorded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelbridge::recording {

class RecordLine {
public:
    RecordLine() noexcept = default;
    RecordLine(const RecordLine&) = delete;
    RecordLine& operator=(const RecordLine&) = delete;

    void Put(const char* text, std::size_t length) noexcept;
    void Put(const char* text) noexcept;
    // `,"name":`, without the comma for the first field of the object.
    void PutField(const char* name) noexcept;
    void PutNumber(long long value) noexcept;
    void PutDouble(double value) noexcept;
    // The first `length` bytes of `text` as a JSON string, cut at kTextBound;
    // false when it was cut (by the bound, or for want of memory).
    bool PutString(const char* text, std::size_t length) noexcept;

    // Ends the object and the line.
    void Close() noexcept;
    const char* data() const noexcept { return text_; }
    std::size_t size() const noexcept { return length_; }

private:
    // Makes room for `more` bytes and what closes the line; false when there is none.
    bool Reserve(std::size_t more) noexcept;

    // Room for the longest command a driver takes and its escapes.
    static constexpr std::size_t kStackCapacity = 12288;
    // Kept free for what ends every record.
    static constexpr std::size_t kClosingRoom = 128;
    char stack_[kStackCapacity];
    std::unique_ptr<char[]> heap_;
    char* text_ = stack_;
    std::size_t capacity_ = kStackCapacity;
    std::size_t length_ = 0;
    bool firstField_ = true;
};

// {"format":"zelbridge-recording","version":1,"pid":N,"started":"<UTC>"}
void ComposeSessionRecord(RecordLine& line, std::uint32_t processId, long long secondsSinceEpoch) noexcept;

} // namespace zelbridge::recording
