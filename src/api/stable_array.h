// An array that grows by whole chunks, each twice the size of the one before,
// so that its elements never move: one writer appends under its owner's lock
// while readers find elements without any lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelbridge {

template <typename T> class StableArray {
public:
    // Enough chunks for every index an int32 can hold.
    static constexpr unsigned kFirstChunkBits = 6;
    static constexpr unsigned kChunkCount = 32 - kFirstChunkBits;

    StableArray() noexcept = default;
    ~StableArray()
    {
        for (auto& chunk : chunks_)
            delete[] chunk.load(std::memory_order_relaxed);
    }
    StableArray(const StableArray&) = delete;
    StableArray& operator=(const StableArray&) = delete;

    // Elements published so far; an element below it is fully constructed.
    std::size_t size() const noexcept { return size_.load(std::memory_order_acquire); }

    // Null for an index not published yet.
    T* Find(std::size_t index) const noexcept
    {
        if (index >= size())
            return nullptr;
        const Position at = Locate(index);
        // Relaxed is enough: the writer stored this chunk's pointer before
        // the Publish() that made `index` count, and size() read that count
        // with acquire, so the store happens before this load. A chunk
        // pointer is written once and never changes, so no later value can
        // be seen instead.
        return &chunks_[at.chunk].load(std::memory_order_relaxed)[at.offset];
    }

    // The next element, default-constructed, for the caller to set up before
    // it calls Publish(). Null when the array is full; throws std::bad_alloc
    // when a new chunk cannot be had. Writers must be serialised.
    T* PrepareNext()
    {
        const std::size_t index = size_.load(std::memory_order_relaxed);
        if (index >= kCapacity)
            return nullptr;
        const Position at = Locate(index);
        T* chunk = chunks_[at.chunk].load(std::memory_order_relaxed);
        if (!chunk) {
            chunk = new T[std::size_t{1} << (kFirstChunkBits + at.chunk)];
            chunks_[at.chunk].store(chunk, std::memory_order_release);
        }
        return &chunk[at.offset];
    }

    // Makes the element PrepareNext() gave visible to readers; its index.
    std::size_t Publish() noexcept { return size_.fetch_add(1, std::memory_order_release); }

    // Every published element, in index order.
    template <typename Visit> void ForEach(Visit visit) const
    {
        const std::size_t count = size();
        for (std::size_t index = 0; index < count; ++index)
            visit(*Find(index));
    }

private:
    static constexpr std::size_t kCapacity = std::size_t{INT32_MAX};

    struct Position {
        unsigned chunk;
        std::size_t offset;
    };
    // Chunk k holds 2^(first + k) elements, starting at index 2^(first + k) - 2^first.
    static Position Locate(std::size_t index) noexcept
    {
        const std::uint64_t biased = static_cast<std::uint64_t>(index) + (std::uint64_t{1} << kFirstChunkBits);
        const unsigned highestBit = 63u - static_cast<unsigned>(__builtin_clzll(biased));
        const unsigned chunk = highestBit - kFirstChunkBits;
        return {chunk, static_cast<std::size_t>(biased - (std::uint64_t{1} << highestBit))};
    }

    std::atomic<T*> chunks_[kChunkCount]{};
    std::atomic<std::size_t> size_{0};
};

} // namespace zelbridge
