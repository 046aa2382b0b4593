// A file that many threads, and several processes, append whole records to:
// each record goes to the operating system in one write at the file's end,
// so records never mix, and is in its hands when the call returns, so it
// survives the process dying.
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

    // Appends the `length` bytes of one record at `text`, in one write.
    void Append(const char* text, std::size_t length) noexcept;

private:
    std::mutex lock_;
    platform::FileHandle file_ = platform::kNoFile;
};

} // namespace zelbridge::recording
