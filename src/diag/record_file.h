// A file that many threads append whole records to: each record is written
// by one call under a lock, so records never mix, and is in the operating
// system's hands when the call returns, so it survives the process dying.
#pragma once

#include <cstddef>
#include <fstream>
#include <mutex>

namespace zelbridge {

class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens `path` for appending; false when it cannot be opened.
    bool Open(const char* path);

    // Appends the `length` bytes of one record at `text`, in one write.
    void Append(const char* text, std::size_t length) noexcept;

private:
    std::mutex lock_;
    // Unbuffered: a record goes to the operating system in the call that
    // appends it, not when a buffer fills.
    std::filebuf file_;
};

} // namespace zelbridge
