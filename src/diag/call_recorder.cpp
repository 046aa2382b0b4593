// Writing the recording: one JSON object per forwarded call, built on the
// stack and appended with one write.
#include "diag/call_recorder.h"

#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zelbridge {

// Read when the module loads, like the trace setting, so that the flag is
// set before any call can be forwarded.
CallRecorder detail::theCallRecorder __attribute__((init_priority(101)))(platform::Setting("ZELBRIDGE_RECORD"));

namespace {

std::int64_t NowNs() noexcept
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CallRecorder::CallRecorder(const char* path)
{
    if (!path || *path == '\0')
        return;
    std::unique_ptr<RecordFile> file = std::make_unique<RecordFile>();
    if (file->Open(path)) {
        file_ = file.release();
        on_ = true;
    }
    if (!on_) {
        platform::DebugOutput("Zelbridge: the recording file named by ZELBRIDGE_RECORD cannot be opened; "
                              "nothing is recorded\n");
    }
}

CallRecorder::~CallRecorder()
{
    if (this != &Instance())
        Close();
}

void CallRecorder::Close() noexcept
{
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
    static std::atomic<std::uint32_t> lastNumber{0};
    // The number is the slot's value itself (see ThreadSlot for why not thread_local).
    static platform::ThreadSlot numberSlot;
    auto number = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(numberSlot.Get()));
    if (number == 0) {
        number = ++lastNumber;
        numberSlot.Set(reinterpret_cast<void*>(static_cast<std::uintptr_t>(number)));
    }
    return number;
}

bool IsTranslateError(const char* entry) noexcept
{
    static constexpr char kName[] = "TranslateError";
    const std::size_t length = std::strlen(entry);
    return length >= sizeof kName - 1 && std::strcmp(entry + length - (sizeof kName - 1), kName) == 0;
}

CallRecord::CallRecord(const char* entry, CallOwner owner) noexcept
{
    CallRecorder& recorder = CallRecorder::Instance();
    char head[64];
    std::snprintf(head, sizeof head, "{\"t\":%.3f,\"thread\":%u,\"entry\":", recorder.Elapsed(),
                  static_cast<unsigned>(CallRecorder::ThreadNumber()));
    Put(head);
    PutString(entry, std::strlen(entry));
    if (owner.name) {
        Put(",\"");
        Put(owner.name);
        Put("\":");
        PutNumber(owner.value);
    }
    Put(",\"args\":[");
}

void CallRecord::Put(const char* text, std::size_t length) noexcept
{
    const std::size_t room = kCapacity - length_;
    if (length > room)
        length = room;
    std::memcpy(text_ + length_, text, length);
    length_ += length;
}

void CallRecord::Put(const char* text) noexcept
{
    Put(text, std::strlen(text));
}

void CallRecord::PutNumber(long long value) noexcept
{
    char number[24];
    Put(number, static_cast<std::size_t>(std::snprintf(number, sizeof number, "%lld", value)));
}

// Bytes outside printable ASCII are written as \u00XX, one code point per
// byte, so that any bytes a caller sent come back as the same bytes.
void CallRecord::PutString(const char* text, std::size_t length) noexcept
{
    Put("\"");
    for (std::size_t i = 0; i < length; ++i) {
        if (length_ + kClosingRoom + 6 > kCapacity) {
            cut_ = true;
            break;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            const char escaped[] = {'\\', static_cast<char>(byte)};
            Put(escaped, 2);
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            Put(escaped, 6);
        } else {
            Put(text + i, 1);
        }
    }
    Put("\"");
}

void CallRecord::Separate() noexcept
{
    if (!firstArgument_)
        Put(",");
    firstArgument_ = false;
}

void CallRecord::AddText(const char* text) noexcept
{
    Separate();
    if (text)
        PutString(text, std::strlen(text));
    else
        Put("null");
}

void CallRecord::AddNumber(long long value) noexcept
{
    Separate();
    PutNumber(value);
}

void CallRecord::AddDouble(double value) noexcept
{
    Separate();
    char number[32];
    // Seventeen digits give the double back exactly.
    const int written = std::snprintf(number, sizeof number, "%.17g", value);
    // JSON has no infinity or NaN.
    const bool finite = value == value && value - value == 0.0;
    Put(finite ? number : "null", finite ? static_cast<std::size_t>(written) : 4);
}

void CallRecord::Finish(const long long* result) noexcept
{
    Put("]");
    if (result) {
        Put(",\"result\":");
        PutNumber(*result);
    }
    if (answer_ && answerCapacity_ > 0) {
        Put(",\"answer\":");
        const void* end = std::memchr(answer_, '\0', static_cast<std::size_t>(answerCapacity_));
        PutString(answer_, end ? static_cast<std::size_t>(static_cast<const char*>(end) - answer_)
                               : static_cast<std::size_t>(answerCapacity_));
    }
    if (size_) {
        Put(",\"size\":");
        PutNumber(*size_);
    }
    if (cut_)
        Put(",\"cut\":true");
    Put("}\n");
    CallRecorder::Instance().Append(text_, length_);
}

} // namespace zelbridge
