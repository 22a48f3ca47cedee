#include "serial_read_buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime.h"

namespace tarvo::rt {

std::size_t SerialReadBuffer::take(uint8_t* dst, std::size_t n)
{
    const std::size_t p = pos_.load(std::memory_order_relaxed);
    const std::size_t e = end_.load(std::memory_order_relaxed);
    const std::size_t k = p < e ? std::min(n, e - p) : 0;
    if (k > 0) {
        std::memcpy(dst, bytes_.get() + p, k);
        pos_.store(p + k, std::memory_order_relaxed);
    }
    return k;
}

int SerialReadBuffer::refill(SerialPort& port, Clock::time_point deadline)
{
    const int got = port.fill(bytes_.get(), kSize, deadline);
    if (got <= 0)
        return got == 0 ? COM_ERR_TIMEOUT : got;
    end_.store(static_cast<std::size_t>(got), std::memory_order_relaxed);
    pos_.store(0, std::memory_order_relaxed);
    return got;
}

int SerialReadBuffer::readByte(SerialPort& port)
{
    if (const int b = takeByte(); b != kEmpty)
        return b;
    const int got = refill(port, Clock::now() + port.timeout());
    return got < 0 ? got : takeByte();
}

int SerialReadBuffer::read(SerialPort& port, uint8_t* dst, std::size_t n)
{
    std::size_t done = take(dst, n);
    // One deadline for the whole call: bytes trickling in do not extend it.
    const auto deadline = Clock::now() + port.timeout();
    int failure = 0;
    while (done < n) {
        if (const int got = refill(port, deadline); got < 0) {
            failure = got;
            break;
        }
        done += take(dst + done, n - done);
    }
    // A short count tells the caller about a time-out; a failure with nothing
    // read is reported as such.
    if (done == 0 && failure != 0 && failure != COM_ERR_TIMEOUT)
        return failure;
    return static_cast<int>(std::min<std::size_t>(done, INT_MAX));
}

}  // namespace tarvo::rt
