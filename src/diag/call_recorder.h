// The recording of a session: with ZELBRIDGE_RECORD naming a file, every call
// the module forwards is appended to it as one line of JSON, for a person to
// read and for the simulator to replay.
#pragma once

#include "diag/record_file.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace zelbridge {

class CallRecorder;
namespace detail {
// Defined with the recorder's code; named here so that the test of the flag costs no call.
extern CallRecorder theCallRecorder;
} // namespace detail

// Whom a call addresses: a generic call names its system index; a family or
// graph call carries its connection or handle among its arguments.
struct CallOwner {
    const char* name;
    std::int32_t value;
};
inline CallOwner SystemOwner(std::int32_t index)
{
    return CallOwner{"system", index};
}
inline constexpr CallOwner kNoOwner{nullptr, 0};

class CallRecorder {
public:
    static CallRecorder& Instance() noexcept { return detail::theCallRecorder; }
    static bool Off() noexcept { return !detail::theCallRecorder.on_; }

    // `path` is the value of ZELBRIDGE_RECORD: null or "" records nothing; a
    // file that cannot be opened is said once on the debug output, and
    // nothing is recorded.
    explicit CallRecorder(const char* path);
    // The process's recorder keeps its file: see Close().
    ~CallRecorder();
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    bool on() const noexcept { return on_; }
    // Milliseconds since the first record; the first call gives 0.
    double Elapsed() noexcept;
    // A small number per thread, counting from 1 in the order threads first record.
    static std::uint32_t ThreadNumber() noexcept;
    // Only while on().
    void Append(const char* text, std::size_t length) noexcept { file_->Append(text, length); }
    // Stops recording and closes the file: when the module is unloaded from
    // a process that runs on. A process that ends keeps the file to its end,
    // for the records of threads still calling.
    void Close() noexcept;

private:
    bool on_ = false;
    // Owned, but freed only by Close(): never destroyed at exit.
    RecordFile* file_ = nullptr;
    std::atomic<std::int64_t> startNs_{0};
};

// One record, written into a buffer on the stack and appended whole. A text
// that does not fit is cut short and the record says "cut": true.
class CallRecord {
public:
    CallRecord(const char* entry, CallOwner owner) noexcept;
    CallRecord(const CallRecord&) = delete;
    CallRecord& operator=(const CallRecord&) = delete;

    // Texts the caller passed are recorded as text; an answer buffer is
    // read after the call, up to the whole number that follows it (its
    // capacity); a size variable is read after the call; numbers as they are.
    template <typename Argument> void Add(Argument argument) noexcept
    {
        if constexpr (std::is_same_v<Argument, const char*>)
            AddText(argument);
        else if constexpr (std::is_same_v<Argument, char*>)
            answer_ = argument, expectCapacity_ = true;
        else if constexpr (std::is_same_v<Argument, std::int32_t*>)
            size_ = argument;
        else if constexpr (std::is_floating_point_v<Argument>)
            AddDouble(static_cast<double>(argument));
        else {
            static_assert(std::is_integral_v<Argument>, "an argument is a text, a buffer, a size or a number");
            if (expectCapacity_)
                answerCapacity_ = static_cast<std::int32_t>(argument), expectCapacity_ = false;
            else
                AddNumber(static_cast<long long>(argument));
        }
    }

    // Ends the record with the result, when the call has one, and appends it.
    void Finish(const long long* result) noexcept;

private:
    void Put(const char* text, std::size_t length) noexcept;
    void Put(const char* text) noexcept;
    void PutNumber(long long value) noexcept;
    void PutString(const char* text, std::size_t length) noexcept;
    void Separate() noexcept;
    void AddText(const char* text) noexcept;
    void AddNumber(long long value) noexcept;
    void AddDouble(double value) noexcept;

    // Room for the longest command a driver takes and its escapes.
    static constexpr std::size_t kCapacity = 12288;
    // Kept free for what ends every record.
    static constexpr std::size_t kClosingRoom = 96;
    char text_[kCapacity];
    std::size_t length_ = 0;
    bool firstArgument_ = true;
    bool cut_ = false;
    char* answer_ = nullptr;
    std::int32_t answerCapacity_ = 0;
    bool expectCapacity_ = false;
    const std::int32_t* size_ = nullptr;
};

// TranslateError takes its buffer as a word; its text is what replay needs.
bool IsTranslateError(const char* entry) noexcept;

template <typename... Arguments>
[[gnu::noinline]] void Record(const char* entry, CallOwner owner, const long long* result,
                              Arguments... arguments) noexcept
{
    CallRecord record(entry, owner);
    if constexpr (sizeof...(Arguments) == 3 && (std::is_integral_v<Arguments> && ...)) {
        if (IsTranslateError(entry)) {
            const long long words[] = {static_cast<long long>(arguments)...};
            record.Add(static_cast<std::int32_t>(words[0]));
            record.Add(reinterpret_cast<char*>(static_cast<std::intptr_t>(words[1])));
            record.Add(static_cast<std::int32_t>(words[2]));
            record.Finish(result);
            return;
        }
    }
    (record.Add(arguments), ...);
    record.Finish(result);
}

// Makes `call` and, while recording, records it with `arguments`: off, one
// test of a flag.
template <typename Call, typename... Arguments>
auto RecordedCall(const char* entry, CallOwner owner, Call call, Arguments... arguments) noexcept
{
    using Result = decltype(call());
    if (CallRecorder::Off())
        return call();
    if constexpr (std::is_void_v<Result>) {
        call();
        Record(entry, owner, nullptr, arguments...);
    } else {
        const Result result = call();
        const long long recorded = static_cast<long long>(result);
        Record(entry, owner, &recorded, arguments...);
        return result;
    }
}

// The same, out of line: for entry points whose quick path must stay a test
// and a call, with nothing of the recording set up on it.
template <typename Call, typename... Arguments>
[[gnu::noinline]] auto RecordedCallOutOfLine(const char* entry, CallOwner owner, Call call,
                                             Arguments... arguments) noexcept
{
    return RecordedCall(entry, owner, call, arguments...);
}

} // namespace zelbridge
