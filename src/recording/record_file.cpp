// Appending whole records to a file shared by many threads and processes.
#include "recording/record_file.h"

namespace zelbridge::recording {

bool RecordFile::Open(const char* path, char* reason, std::size_t capacity) noexcept
{
    file_ = platform::OpenForAppending(path, reason, capacity);
    return file_ != platform::kNoFile;
}

void RecordFile::Append(const char* text, std::size_t length, bool onFreshLine) noexcept
{
    try {
        // This lock keeps this process's threads in turn; the file's lock,
        // other processes.
        const std::lock_guard<std::mutex> guard(lock_);
        platform::AppendToFile(file_, text, length, onFreshLine);
    } catch (...) {
        // A record that cannot be written is lost; the caller's call goes on.
    }
}

} // namespace zelbridge::recording
