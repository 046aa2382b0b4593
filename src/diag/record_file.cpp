// Appending whole records to a file shared by many threads.
#include "diag/record_file.h"

namespace zelbridge {

bool RecordFile::Open(const char* path)
{
    file_.pubsetbuf(nullptr, 0);
    return file_.open(path, std::ios_base::out | std::ios_base::app) != nullptr;
}

void RecordFile::Append(const char* text, std::size_t length) noexcept
{
    try {
        const std::lock_guard<std::mutex> guard(lock_);
        file_.sputn(text, static_cast<std::streamsize>(length));
    } catch (...) {
        // A trace that cannot be written is lost; the caller's call goes on.
    }
}

} // namespace zelbridge
