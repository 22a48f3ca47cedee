// One open serial link, behind the numbered-port calls of runtime.h.
//
// Implementations: serial_posix.cpp (termios; Linux and macOS), serial_win32.cpp
// (Windows), serial_virtual.cpp (the board model in this process). A port is
// the device only: it keeps no bytes of its own. The numbered port's read
// buffer (serial_read_buffer.h) takes from it everything that has arrived in
// one call, so that the one-byte reads of the sampling loop cost no system
// call each.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvo::rt {

enum LinkParity : int { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };

// A link setting as OpenComConfig has checked it, once for every kind of
// port: the baud rate 1 to 12,000,000, the parity a LinkParity, 5 to 8 data
// bits, 1 or 2 stop bits. The openers below take it as valid.
struct LinkSettings {
    long baud = 19200;
    int parity = kNoParity;  // a LinkParity
    int dataBits = 8;
    int stopBits = 1;
};

using Clock = std::chrono::steady_clock;

class SerialPort {
public:
    virtual ~SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Blocks until at least one byte is available or `deadline` passes, then
    // copies what is available (at most cap) to dst. Returns the count (> 0),
    // COM_ERR_TIMEOUT, or another negative code.
    virtual int fill(uint8_t* dst, std::size_t cap, Clock::time_point deadline) = 0;
    // Discards what the device received and was not read yet.
    virtual int discardDeviceInput() = 0;
    virtual int write(const uint8_t* src, std::size_t n) = 0;
    virtual int sendBreak(int milliseconds) = 0;
    // Wakes a blocked read from another thread; reads fail with
    // COM_ERR_CANCELLED from then on.
    virtual void cancelReads() = 0;

    // Safe from any thread: a read under way keeps its deadline, the next
    // read takes the new time-out.
    void setTimeout(std::chrono::microseconds t) { timeout_.store(t, std::memory_order_relaxed); }
    std::chrono::microseconds timeout() const { return timeout_.load(std::memory_order_relaxed); }

protected:
    SerialPort() = default;

    // The end of a generous bound for writing n bytes at `baud`, for a device
    // that stops taking them: the read time-out plus the bytes' time on the
    // wire (10 bits each).
    Clock::time_point writeDeadline(std::size_t n, long baud) const
    {
        const auto wire = std::chrono::microseconds(static_cast<long long>(n) * 10'000'000LL /
                                                    std::max(baud, 1L));
        return Clock::now() + timeout() + wire;
    }

private:
    std::atomic<std::chrono::microseconds> timeout_{std::chrono::microseconds(1000000)};
};

// How an opener gives up: null, with "<device>: <why>" in *error and the
// COM_ERR_* code in *code (either may be null).
struct OpenRefusal {
    std::string device;  // as the reason names it
    std::string* error;
    int* code;

    std::unique_ptr<SerialPort> operator()(int c, const std::string& why) const
    {
        if (error)
            *error = device + ": " + why;
        if (code)
            *code = c;
        return nullptr;
    }
};

// Opens a device path (or COMn on Windows) with every link setting applied.
// On failure returns null and a one-line reason in *error and a COM_ERR_*
// code in *code.
std::unique_ptr<SerialPort> openDevice(const std::string& device, const LinkSettings& link,
                                       std::string* error, int* code);

// Opens the built-in board model that belongs to port number `port`. The model
// lives for the whole process, so a board configured through one open is still
// configured after the port is closed and opened again.
std::unique_ptr<SerialPort> openVirtual(int port, const LinkSettings& link);

}  // namespace tarvo::rt
