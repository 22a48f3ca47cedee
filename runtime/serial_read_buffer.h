// The read-ahead of one numbered port: bytes taken from the device and not
// handed out yet. Every read of a port goes through it. An empty buffer is
// filled with everything that has arrived, in one call to the device, and
// ComRdByte then hands out byte after byte without touching the port at all
// (it belongs to the port number's slot, which is never freed, so that costs
// not even a registration as a user of the port).
//
// One thread reads a port at a time. The positions are atomic only so that a
// flush or a close from another thread is no data race; relaxed, they cost
// nothing more than plain loads and stores.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "serial_port.h"

namespace tarvo::rt {

class SerialReadBuffer {
public:
    static constexpr int kEmpty = -1;

    // The next byte, or kEmpty. Never touches the port.
    int takeByte()
    {
        const std::size_t p = pos_.load(std::memory_order_relaxed);
        if (p >= end_.load(std::memory_order_relaxed))
            return kEmpty;
        pos_.store(p + 1, std::memory_order_relaxed);
        return bytes_[p];
    }

    // The next byte, from the port when the buffer is empty: waits up to the
    // port's time-out for it. Returns 0..255 or a negative COM_ERR_* code.
    int readByte(SerialPort& port);

    // n bytes to dst: waits until all n have arrived or the port's time-out
    // has passed, once for the whole call. Returns the count read (short
    // after a time-out), or a negative code if nothing was read and the link
    // failed.
    int read(SerialPort& port, uint8_t* dst, std::size_t n);

    // Forgets what was read ahead: on every open, close and flush.
    void clear()
    {
        end_.store(0, std::memory_order_relaxed);
        pos_.store(0, std::memory_order_relaxed);
    }

    // Makes the storage, once: a slot that never opens a port costs none.
    void allocate()
    {
        if (!bytes_)
            bytes_ = std::make_unique<uint8_t[]>(kSize);
    }

private:
    // Moves up to n buffered bytes to dst; returns how many.
    std::size_t take(uint8_t* dst, std::size_t n);
    // Refills the empty buffer from the port, waiting until `deadline` for
    // the first byte. Returns the count (> 0) or a negative COM_ERR_* code.
    int refill(SerialPort& port, Clock::time_point deadline);

    static constexpr std::size_t kSize = 64 * 1024;
    std::unique_ptr<uint8_t[]> bytes_;
    std::atomic<std::size_t> pos_{0}, end_{0};
};

}  // namespace tarvo::rt
