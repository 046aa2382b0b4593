// The recording of a session: with ZELBRIDGE_RECORD naming a file, every call
// the module forwards is appended to it as one line of JSON, for a person to
// read and for the simulator to replay.
#pragma once

#include "api/driver_contract.h"
#include "recording/record_file.h"
#include "recording/record_line.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
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
    // file that cannot be opened is said once on the debug output by
    // SayWarning, with its name and the system's reason, and nothing is recorded. The first
    // record of the process is preceded by its session record.
    explicit CallRecorder(const char* path);
    // The process's recorder keeps its file: see Close().
    ~CallRecorder();
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    bool on() const noexcept { return on_; }
    void SayWarning() noexcept;
    // The recording process: a forked child records as itself, with a
    // session, a clock and thread numbers of its own.
    std::uint32_t processId() const noexcept { return processId_.load(std::memory_order_relaxed); }
    // Milliseconds since the first record; the first call gives 0.
    double Elapsed() noexcept;
    // A small number per thread, counting from 1 in the order threads first record.
    static std::uint32_t ThreadNumber() noexcept;
    // Only while on(). The process's first record is preceded by its session record.
    void Append(const recording::RecordLine& line) noexcept;
    // Stops recording and closes the file: when the module is unloaded from
    // a process that runs on. A process that ends keeps the file to its end,
    // for the records of threads still calling.
    void Close() noexcept;

private:
    static void BeforeFork() noexcept;
    static void AfterForkInParent() noexcept;
    static void AfterForkInChild() noexcept;

    bool on_ = false;
    // Owned, but freed only by Close(): never destroyed at exit.
    recording::RecordFile* file_ = nullptr;
    std::atomic<std::int64_t> startNs_{0};
    std::atomic<std::uint32_t> processId_{0};
    std::mutex sessionLock_;
    std::atomic<bool> sessionWritten_{false};
    // Why nothing is recorded, until SayWarning says it.
    char warning_[600] = "";
};

// One call record, appended whole by Finish().
class CallRecord {
public:
    CallRecord(const char* entry, CallOwner owner) noexcept;
    CallRecord(const CallRecord&) = delete;
    CallRecord& operator=(const CallRecord&) = delete;

    // One word of the call, written as `kind` says the driver reads it: a
    // number, a text as a string, a buffer as what the driver wrote into it,
    // an integer out as "size"; a word only the driver knows as null, since it
    // may be an address. A text or buffer is read only when `reached`, that
    // is when the call reached a driver function, which read it too.
    void Add(ArgumentKind kind, Word word, bool reached) noexcept;
    // A double of a call without a description of its words: as it is.
    void AddValue(double value) noexcept;

    // Ends the record with the result, when the call has one, and appends it.
    void Finish(const long long* result) noexcept;

private:
    void Separate() noexcept;

    recording::RecordLine line_;
    bool firstArgument_ = true;
    bool cut_ = false;
    bool reached_ = false;
    const char* answer_ = nullptr;
    Word answerCapacity_ = 0;
    const std::int32_t* size_ = nullptr;
};

template <typename Value> Word AsWord(Value value) noexcept
{
    if constexpr (std::is_pointer_v<Value>)
        return reinterpret_cast<Word>(value);
    else
        return static_cast<Word>(value);
}

// Records a call whose words the operation table describes.
template <typename... Values>
[[gnu::noinline]] void RecordDescribed(const char* entry, CallOwner owner, const ArgumentKinds& kinds, bool reached,
                                       const long long* result, Values... values) noexcept
{
    CallRecord record(entry, owner);
    [[maybe_unused]] unsigned next = 0;
    (record.Add(kinds.kinds[next++], AsWord(values), reached), ...);
    static_cast<void>(kinds);
    static_cast<void>(reached);
    record.Finish(result);
}

template <typename... Arguments>
[[gnu::noinline]] void Record(const char* entry, CallOwner owner, const long long* result,
                              Arguments... arguments) noexcept
{
    CallRecord record(entry, owner);
    // A word of such a call means what its library alone knows, and may be
    // an address: written as null, like the table's opaque words.
    const auto add = [&record](auto value) noexcept {
        if constexpr (std::is_floating_point_v<decltype(value)>)
            record.AddValue(static_cast<double>(value));
        else
            record.Add(ArgumentKind::Opaque, AsWord(value), false);
    };
    (add(arguments), ...);
    record.Finish(result);
}

// Makes `call` and, while recording, records it with `arguments`: off, one
// test of a flag. For calls without a description of their words: the
// graph calls, whose words are recorded as null and doubles as numbers.
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

} // namespace zelbridge
