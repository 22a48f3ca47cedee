// What the ports on a real device (serial_posix.cpp, serial_win32.cpp) share:
// the rules of a failed device and of a cancel, over the few steps that
// differ by system.
#pragma once

#include "runtime.h"
#include "serial_gather.h"
#include "serial_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace tarvo::rt {

class DevicePort : public SerialPort {
public:
    int write(const uint8_t* src, std::size_t n) final
    {
        if (failed())
            return COM_ERR_IO;
        gathering_.awaitReply();
        return writeAll(src, n, writeDeadline(n, baud_));
    }

    int sendBreak(int milliseconds) final
    {
        if (failed())
            return COM_ERR_IO;
        // Bytes already queued go out before the line is held low.
        drainOutput();
        gathering_.awaitReply();
        if (!setBreak(true))
            return fail();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        gathering_.awaitReply();
        if (!setBreak(false))
            return fail();
        return 0;
    }

    int discardDeviceInput() final
    {
        if (failed())
            return COM_ERR_IO;
        gathering_.awaitReply();
        return discardInput() ? 0 : fail();
    }

    void cancelReads() final
    {
        cancelled_.store(true);
        wakeReader();
    }

protected:
    explicit DevicePort(long baud) : baud_(baud), gathering_(baud) {}

    // Writes all n bytes by `deadline`. Returns n or a negative code.
    virtual int writeAll(const uint8_t* src, std::size_t n, Clock::time_point deadline) = 0;
    // Waits until the bytes written have left.
    virtual void drainOutput() = 0;
    // Holds the line low (a break) or lets it go.
    virtual bool setBreak(bool on) = 0;
    // Drops what the device received and was not read yet.
    virtual bool discardInput() = 0;
    // Ends the wait of a read under way, and every later one, at once.
    virtual void wakeReader() = 0;
    // Waits `ms` milliseconds, or until the reads are cancelled.
    virtual void waitForCancel(long long ms) = 0;

    // A failed device stays failed: later calls return COM_ERR_IO at once
    // instead of waiting on a handle that reports an error for ever.
    bool failed() const { return failed_.load(std::memory_order_relaxed); }
    int fail()
    {
        failed_.store(true);
        return COM_ERR_IO;
    }
    // Set by cancelReads; reads fail with COM_ERR_CANCELLED from then on.
    bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }
    // A line that trickles is read in batches (serial_gather.h): a read that
    // finds nothing lets the next bytes gather for a moment, once, rather
    // than waking the reading thread for each record. A cancel still ends
    // the wait at once. True when it waited; `waited` is how long it meant to.
    bool gatherOnce(std::chrono::milliseconds& waited, Clock::time_point deadline)
    {
        if (waited.count() != 0)
            return false;
        const std::chrono::milliseconds g = gathering_.next();
        if (g.count() == 0)
            return false;
        waited = g;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (const long long ms = std::min<long long>(left.count(), g.count()); ms > 0)
            waitForCancel(ms);
        return true;
    }
    // A read brought n > 0 bytes after a gather of `waited` (zero: none).
    void gathered(std::size_t n, std::chrono::milliseconds waited) { gathering_.read(n, waited); }

private:
    long baud_;
    ReadGathering gathering_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> failed_{false};
};

}  // namespace tarvo::rt
