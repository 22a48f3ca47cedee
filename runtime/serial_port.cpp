// The buffered reads shared by every kind of port.
#include "serial_port.h"

#include <algorithm>
#include <cstring>

#include "runtime.h"

namespace tarvo::rt {

int SerialPort::refillAndRead() {
    const int got = fill(buf_.get(), kBufSize, Clock::now() + timeout());
    if (got <= 0) return got == 0 ? COM_ERR_TIMEOUT : got;
    pos_ = 0;
    end_ = static_cast<std::size_t>(got);
    return buf_[pos_++];
}

int SerialPort::readSome(uint8_t* dst, std::size_t cap) {
    if (pos_ < end_) {  // left over from readByte or read
        const std::size_t take = std::min(cap, end_ - pos_);
        std::memcpy(dst, buf_.get() + pos_, take);
        pos_ += take;
        return static_cast<int>(take);
    }
    const int got = fill(dst, std::min<std::size_t>(cap, INT32_MAX), Clock::now() + timeout());
    return got == 0 ? COM_ERR_TIMEOUT : got;
}

int SerialPort::read(uint8_t* dst, std::size_t n) {
    // One deadline for the whole call: bytes trickling in do not extend it.
    const auto deadline = Clock::now() + timeout();
    std::size_t done = 0;
    int failure = 0;
    while (done < n) {
        if (pos_ == end_) {
            const int got = fill(buf_.get(), kBufSize, deadline);
            if (got <= 0) {
                failure = got == 0 ? COM_ERR_TIMEOUT : got;
                break;
            }
            pos_ = 0;
            end_ = static_cast<std::size_t>(got);
        }
        const std::size_t take = std::min(n - done, end_ - pos_);
        std::memcpy(dst + done, buf_.get() + pos_, take);
        pos_ += take;
        done += take;
    }
    // A short count tells the caller about a time-out; a failure with nothing
    // read is reported as such.
    if (done == 0 && failure != 0 && failure != COM_ERR_TIMEOUT) return failure;
    return static_cast<int>(std::min<std::size_t>(done, INT32_MAX));
}

}  // namespace tarvo::rt
