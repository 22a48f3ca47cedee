// When a device read lets the line's bytes gather first. A line that brings a
// few bytes at a time (records at the board's own pace) is read in batches:
// the reading thread waits a moment before it reads again rather than waking
// for every record, which would cost it more than a percent of a core.
//
// A read looks first; only when it finds nothing does it wait for the
// gathering's moment, once, before it reads again. The moment is short while
// a reply may be awaited (the handshake: a read after a write, a break or a
// flush) and longer once the line has trickled for several reads in a row. It
// is never longer than the line can fill a small part of the kernel's queue
// in at its baud rate, so a gather cannot overrun a real serial port whatever
// the board sends. A read that brings bytes faster than a trickle (a flood)
// ends the gathering: the next reads wait for nothing but the line.
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
    // A read of fewer bytes than this in kFirst (or in proportion, after a
    // longer gather) found a line that trickles: under 25.6 KB/s. The board
    // at its own pace on a 115200 baud line brings about 65 bytes in kFirst.
    static constexpr std::size_t kTrickle = 256;
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

    // A read brought n > 0 bytes after a gather of `waited` (zero: none).
    void read(std::size_t n, std::chrono::milliseconds waited)
    {
        const auto span = std::max(waited, kFirst).count();
        const bool trickle =
            static_cast<long long>(n) * kFirst.count() < static_cast<long long>(kTrickle) * span;
        const unsigned t = trickles_.load(std::memory_order_relaxed);
        trickles_.store(trickle ? std::min(t + 1, kSteadyAfter) : 0, std::memory_order_relaxed);
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
