// A bounded ring for one producer thread and one consumer thread, without
// locks: the producer never waits and drops what does not fit. It carries
// records from the sampling thread to the live chart, where a dropped record
// only thins the picture.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace tarvo::rt {

template <typename T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // Producer: false when the ring is full (the item is dropped).
    bool push(const T& item) noexcept
    {
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        if (head - tailSeen_ == Capacity) {
            // The consumer's position is read again only when the ring looks
            // full: the two threads share that cache line rarely.
            tailSeen_ = tail_.load(std::memory_order_acquire);
            if (head - tailSeen_ == Capacity)
                return false;
        }
        slots_[head & (Capacity - 1)] = item;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer: up to `max` items into `out`, oldest first; returns how many.
    std::size_t pop(T* out, std::size_t max) noexcept
    {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        std::size_t n = 0;
        for (std::uint64_t i = tail; i != head && n < max; ++i, ++n)
            out[n] = slots_[i & (Capacity - 1)];
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }

    static constexpr std::size_t capacity() noexcept { return Capacity; }

private:
    // Each side's position on a cache line of its own.
    static constexpr std::size_t kLine = 64;
    alignas(kLine) std::atomic<std::uint64_t> head_{0};  // written by the producer
    std::uint64_t tailSeen_ = 0;                         // the producer's copy of tail_
    alignas(kLine) std::atomic<std::uint64_t> tail_{0};  // written by the consumer
    alignas(kLine) std::array<T, Capacity> slots_{};
};

}  // namespace tarvo::rt
