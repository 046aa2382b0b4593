// Writing the recording: one JSON object per forwarded call, each argument
// as its kind says, appended with one write.
#include "diag/call_recorder.h"

#include "diag/quiet_calls.h"
#include "platform/platform.h"
#include "recording/recording_format.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace zelbridge {

// Read when the module loads, like the trace setting, so that the flag is
// set before any call can be forwarded.
CallRecorder detail::theCallRecorder __attribute__((init_priority(101)))(platform::Setting("ZELBRIDGE_RECORD"));

namespace {

// The thread numbers: the last one given, and each thread's own.
std::atomic<std::uint32_t> lastThreadNumber{0};
// The number is the slot's value itself (see ThreadSlot for why not thread_local).
platform::ThreadSlot threadNumberSlot;

std::int64_t NowNs() noexcept
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Said when the module attaches, as the trace stream's warning is.
void CallRecorder::SayWarning() noexcept
{
    if (warning_[0] == '\0')
        return;
    platform::DebugOutput(warning_);
    warning_[0] = '\0';
}

CallRecorder::CallRecorder(const char* path)
{
    if (!path || *path == '\0')
        return;
    char reason[256] = "";
    std::unique_ptr<recording::RecordFile> file = std::make_unique<recording::RecordFile>();
    if (!file->Open(path, reason, sizeof reason)) {
        std::snprintf(warning_, sizeof warning_,
                      "Zelbridge: the recording file named by ZELBRIDGE_RECORD, \"%s\", cannot be opened (%s); nothing is "
                      "recorded\n",
                      path, reason);
        return;
    }
    file_ = file.release();
    processId_ = platform::ProcessId();
    on_ = true;
    if (this == &Instance()) {
        SetCallWriter(kRecordingWrites, true);
        platform::OnFork(BeforeFork, AfterForkInParent, AfterForkInChild);
    }
}

// The forking thread holds both locks across the fork, so the child finds
// them free; it is the child's only thread, and its first.
void CallRecorder::BeforeFork() noexcept
{
    CallRecorder& recorder = Instance();
    recorder.sessionLock_.lock();
    if (recorder.file_)
        recorder.file_->HoldForFork();
}

void CallRecorder::AfterForkInParent() noexcept
{
    CallRecorder& recorder = Instance();
    if (recorder.file_)
        recorder.file_->ReleaseAfterFork();
    recorder.sessionLock_.unlock();
}

void CallRecorder::AfterForkInChild() noexcept
{
    CallRecorder& recorder = Instance();
    recorder.processId_ = platform::ProcessId();
    recorder.startNs_ = 0;
    recorder.sessionWritten_ = false;
    lastThreadNumber = 0;
    if (threadNumberSlot.Get())
        threadNumberSlot.Set(nullptr);
    AfterForkInParent();
}

CallRecorder::~CallRecorder()
{
    if (this != &Instance())
        Close();
}

void CallRecorder::Append(const recording::RecordLine& line) noexcept
{
    // The session record goes first, with the process's first call: a
    // process that has the module's code without calling it (a tool linked
    // with it) leaves no empty session. The other threads wait until it is
    // written, so that no record of theirs comes before it.
    if (!sessionWritten_.load(std::memory_order_acquire)) {
        try {
            const std::lock_guard<std::mutex> guard(sessionLock_);
            if (!sessionWritten_.load(std::memory_order_relaxed)) {
                recording::RecordLine session;
                const auto now = std::chrono::system_clock::now().time_since_epoch();
                recording::ComposeSessionRecord(session, processId(),
                                                std::chrono::duration_cast<std::chrono::seconds>(now).count());
                file_->Append(session.data(), session.size(), true);
                sessionWritten_.store(true, std::memory_order_release);
            }
        } catch (...) {
            // No session record: the call records still say their process.
        }
    }
    file_->Append(line.data(), line.size(), true);
}

void CallRecorder::Close() noexcept
{
    if (this == &Instance())
        SetCallWriter(kRecordingWrites, false);
    on_ = false;
    delete file_;
    file_ = nullptr;
}

double CallRecorder::Elapsed() noexcept
{
    const std::int64_t now = NowNs();
    std::int64_t start = 0;
    // The first record sets the start; later ones read it.
    if (startNs_.compare_exchange_strong(start, now))
        return 0.0;
    return static_cast<double>(now - start) / 1e6;
}

std::uint32_t CallRecorder::ThreadNumber() noexcept
{
    auto number = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(threadNumberSlot.Get()));
    if (number == 0) {
        number = ++lastThreadNumber;
        threadNumberSlot.Set(reinterpret_cast<void*>(static_cast<std::uintptr_t>(number)));
    }
    return number;
}

CallRecord::CallRecord(const char* entry, CallOwner owner) noexcept
{
    CallRecorder& recorder = CallRecorder::Instance();
    line_.PutField(recording::kProcessField);
    line_.PutNumber(recorder.processId());
    line_.PutField(recording::kTimeField);
    char elapsed[32];
    line_.Put(elapsed, static_cast<std::size_t>(std::snprintf(elapsed, sizeof elapsed, "%.3f", recorder.Elapsed())));
    line_.PutField(recording::kThreadField);
    line_.PutNumber(CallRecorder::ThreadNumber());
    line_.PutField(recording::kEntryField);
    line_.PutString(entry, std::strlen(entry));
    if (owner.name) {
        line_.PutField(owner.name);
        line_.PutNumber(owner.value);
    }
    line_.PutField(recording::kArgumentsField);
    line_.Put("[");
}

void CallRecord::Separate() noexcept
{
    if (!firstArgument_)
        line_.Put(",");
    firstArgument_ = false;
}

void CallRecord::Add(ArgumentKind kind, Word word, bool reached) noexcept
{
    switch (kind) {
    case ArgumentKind::Integer:
        Separate();
        line_.PutNumber(static_cast<long long>(word));
        return;
    case ArgumentKind::Opaque:
        Separate();
        line_.Put("null");
        return;
    case ArgumentKind::Text: {
        Separate();
        const char* text = reinterpret_cast<const char*>(word);
        if (!reached || !text) {
            line_.Put("null");
            return;
        }
        // Measured no further than the bound and one byte past it.
        std::size_t length = 0;
        while (length <= recording::kTextBound && text[length] != '\0')
            ++length;
        cut_ = !line_.PutString(text, length) || cut_;
        return;
    }
    case ArgumentKind::Buffer:
        answer_ = reinterpret_cast<const char*>(word);
        reached_ = reached;
        return;
    case ArgumentKind::Capacity:
        answerCapacity_ = word;
        return;
    case ArgumentKind::IntegerOut:
        size_ = reached ? reinterpret_cast<const std::int32_t*>(word) : nullptr;
        return;
    }
}

void CallRecord::AddValue(double value) noexcept
{
    Separate();
    line_.PutDouble(value);
}

void CallRecord::Finish(const long long* result) noexcept
{
    line_.Put("]");
    if (result) {
        line_.PutField(recording::kResultField);
        line_.PutNumber(*result);
    }
    if (answer_ && reached_ && answerCapacity_ > 0) {
        // No further than the caller's buffer reaches: a driver may fill it
        // without a terminator.
        const auto capacity = static_cast<std::size_t>(answerCapacity_);
        const void* end = std::memchr(answer_, '\0', capacity);
        const std::size_t length = end ? static_cast<std::size_t>(static_cast<const char*>(end) - answer_) : capacity;
        line_.PutField(recording::kAnswerField);
        if (!line_.PutString(answer_, length)) {
            cut_ = true;
            line_.PutField(recording::kAnswerLengthField);
            line_.PutNumber(static_cast<long long>(length));
        }
    }
    if (size_) {
        line_.PutField(recording::kSizeField);
        line_.PutNumber(*size_);
    }
    if (cut_) {
        line_.PutField(recording::kCutField);
        line_.Put("true");
    }
    line_.Close();
    CallRecorder::Instance().Append(line_);
}

} // namespace zelbridge
