// A file that many threads, and several processes, append whole records to:
// each record goes to the operating system under a lock of the file, at its
// end and on a line of its own, so records never mix, and is in its hands
// when the call returns, so it survives the process dying.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <mutex>

namespace zelbridge::recording {

class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile() { platform::CloseFile(file_); }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens `path` for appending; false when it cannot be opened, with the
    // system's reason in `reason`.
    bool Open(const char* path, char* reason, std::size_t capacity) noexcept;

    // Appends the `length` bytes of one record at `text`; `onFreshLine`
    // starts it on a line of its own even after a writer that died mid-line.
    void Append(const char* text, std::size_t length, bool onFreshLine = false) noexcept;

    // Around a fork: the thread that forks holds the lock across it, so that
    // the child does not inherit it held by a thread it does not have.
    void HoldForFork() noexcept { lock_.lock(); }
    void ReleaseAfterFork() noexcept { lock_.unlock(); }

private:
    std::mutex lock_;
    platform::FileHandle file_ = platform::kNoFile;
};

} // namespace zelbridge::recording
