// The answers a connection owes its caller, oldest first, in fixed storage.
#pragma once

#include <cstddef>
#include <cstring>

namespace loopback {

class AnswerQueue {
public:
    static constexpr std::size_t kCapacity = 8;
    // Room for an answer and its terminating zero.
    static constexpr std::size_t kTextCapacity = 256;

    // False when the queue is full or the text does not fit; nothing is kept then.
    bool Push(const char* text) noexcept
    {
        const std::size_t length = std::strlen(text);
        if (count_ == kCapacity || length >= kTextCapacity)
            return false;
        std::memcpy(texts_[(head_ + count_) % kCapacity], text, length + 1);
        ++count_;
        return true;
    }

    // The oldest answer, or null when none is pending.
    const char* Front() const noexcept { return count_ == 0 ? nullptr : texts_[head_]; }

    void Pop() noexcept
    {
        if (count_ == 0)
            return;
        head_ = (head_ + 1) % kCapacity;
        --count_;
    }

    void Clear() noexcept { head_ = count_ = 0; }

private:
    char texts_[kCapacity][kTextCapacity]{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

} // namespace loopback
