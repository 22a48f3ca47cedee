// One open serial link, behind the numbered-port calls of runtime.h.
//
// Implementations: serial_posix.cpp (termios; Linux and macOS), serial_win32.cpp
// (Windows), serial_virtual.cpp (the board model in this process). The port
// keeps its own receive buffer so that the one-byte reads of the sampling loop
// cost no system call each.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvo::rt {

struct LinkSettings {
    long baud = 19200;
    int parity = 0;  // 0 none, 1 odd, 2 even
    int dataBits = 8;
    int stopBits = 1;
};

using Clock = std::chrono::steady_clock;

class SerialPort {
public:
    virtual ~SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The next byte, 0..255, or a negative COM_ERR_* code after the time-out.
    int readByte() {
        if (pos_ < end_) return buf_[pos_++];
        return refillAndRead();
    }
    // Up to n bytes; waits until all n have arrived or the time-out has passed.
    // Returns the count read, or a negative code if nothing was read and the
    // link failed.
    int read(uint8_t* dst, std::size_t n);
    // What has arrived, at most cap bytes (cap > 0): waits up to the time-out
    // for the first byte only. Returns the count (> 0) or a negative COM_ERR_*
    // code.
    int readSome(uint8_t* dst, std::size_t cap);

    virtual int write(const uint8_t* src, std::size_t n) = 0;
    // Discards what was received and not yet read, here and in the device.
    int flushInput() {
        pos_ = end_ = 0;
        return discardDeviceInput();
    }
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
    // Blocks until at least one byte is available or `deadline` passes, then
    // copies what is available (at most cap) to dst. Returns the count (> 0),
    // COM_ERR_TIMEOUT, or another negative code.
    virtual int fill(uint8_t* dst, std::size_t cap, Clock::time_point deadline) = 0;
    virtual int discardDeviceInput() = 0;

private:
    int refillAndRead();

    static constexpr std::size_t kBufSize = 64 * 1024;
    std::unique_ptr<uint8_t[]> buf_ = std::make_unique<uint8_t[]>(kBufSize);
    std::size_t pos_ = 0, end_ = 0;
    std::atomic<std::chrono::microseconds> timeout_{std::chrono::microseconds(1000000)};
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
