// When a device read lets the line's bytes gather first. A line that brings a
// few bytes at a time (records at the board's own pace) is read in batches:
// the reading thread waits a moment before it reads again rather than waking
// for every record, which would cost it more than a percent of a core.
//
// The moment is short while a reply may be awaited (the handshake: a read
// after a write, a break or a flush) and longer once the line has trickled
// for several reads in a row. It is never longer than the line can fill a
// small part of the kernel's queue in at its baud rate, so a gather cannot
// overrun a real serial port whatever the board sends. A read that finds much
// waiting (a flood) ends the gathering: the next read follows at once.
//
// One thread reads; awaitReply may come from another (the one that writes),
// so the count is atomic.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>

namespace tarvo::rt {

class ReadGathering {
public:
    // A read of fewer bytes than this found a line that trickles: the line
    // at 115200 baud, full to the last bit, brings about 460 bytes in
    // kSteady.
    static constexpr std::size_t kTrickle = 1024;
    // Trickling reads in a row before the longer gather.
    static constexpr unsigned kSteadyAfter = 4;
    // The first gathers of a trickling line, and those of a steady one.
    static constexpr std::chrono::milliseconds kFirst{10};
    static constexpr std::chrono::milliseconds kSteady{40};
    // The bytes a gather may let come at the line's full rate: half the
    // smallest kernel queue in front of a serial port (Linux's 4 KiB).
    static constexpr long kSafeBytes = 2048;

    explicit ReadGathering(long baud) : ceiling_(ceilingFor(baud)) {}

    // How long to let bytes gather before the next read (zero: read at once).
    std::chrono::milliseconds next() const
    {
        const unsigned n = trickles_.load(std::memory_order_relaxed);
        if (n == 0)
            return std::chrono::milliseconds{0};
        return std::min(n >= kSteadyAfter ? kSteady : kFirst, ceiling_);
    }

    // A read brought n > 0 bytes.
    void read(std::size_t n)
    {
        const unsigned t = trickles_.load(std::memory_order_relaxed);
        trickles_.store(n < kTrickle ? std::min(t + 1, kSteadyAfter) : 0,
                        std::memory_order_relaxed);
    }

    // A write, a break or a flush: a reply may follow, read it at once.
    void awaitReply() { trickles_.store(0, std::memory_order_relaxed); }

    // The longest gather at `baud` bits a second (ten bits a byte on the
    // line at the least): the time kSafeBytes take, in whole milliseconds.
    static constexpr std::chrono::milliseconds ceilingFor(long baud)
    {
        if (baud <= 0)
            return kFirst;
        return std::chrono::milliseconds{std::min<long long>(
            kSteady.count(), kSafeBytes * 10 * 1000 / static_cast<long long>(baud))};
    }

private:
    std::chrono::milliseconds ceiling_;
    std::atomic<unsigned> trickles_{0};
};

}  // namespace tarvo::rt
