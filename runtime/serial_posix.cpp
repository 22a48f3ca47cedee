// Serial devices on Linux and macOS through termios.
//
// The port is non-blocking and waits in poll(), together with a cancel
// descriptor, so a read can be bounded by a deadline and woken from another
// thread. The records on the line are binary: every byte value must pass
// untouched, so the line is fully raw and every termios field is set on open
// (settings left by the previous user of the device persist otherwise).
#include "options.h"
#include "runtime.h"
#include "serial_baud.h"
#include "serial_lock.h"
#include "serial_device.h"
#include "serial_speed.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/eventfd.h>
#endif
#if defined(__APPLE__)
#include <IOKit/serial/ioss.h>
#endif

namespace tarvo::rt {

namespace {

tcflag_t charSize(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

std::string errnoText(int err) { return std::strerror(err); }

// The termios record for `link`, built from scratch rather than from what
// the device held before.
termios rawSettings(const termios& current, const LinkSettings& link)
{
    termios t = current;
    ::cfmakeraw(&t);
    // Input: no XON/XOFF (0x11 and 0x13 are data), no CR/NL translation, no
    // stripping of bit 7, no parity checking or marking (a byte with a parity
    // error is passed as received; the record counter catches a damaged
    // stream), and a break from the line neither signals nor inserts a byte.
    t.c_iflag = IGNBRK;
    // Output: no post-processing, so NL is not expanded to CR NL.
    t.c_oflag = 0;
    // Local: no canonical mode, echo, signals or extended processing.
    t.c_lflag = 0;
    // Control: receiver on; CLOCAL so the modem lines neither block the open
    // nor hang the port up; no RTS/CTS flow control; no HUPCL, so closing the
    // port between the handshake and the acquisition does not drop DTR (a
    // board that resets on DTR would lose its configuration).
    t.c_cflag = CLOCAL | CREAD | charSize(link.dataBits);
    if (link.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (link.parity == kOddParity)
        t.c_cflag |= PARENB | PARODD;
    if (link.parity == kEvenParity)
        t.c_cflag |= PARENB;
    // read() returns at once with what is there; waiting is done in poll().
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return t;
}

// What the device must have taken for the open to count. A pseudo-terminal
// silently drops PARENB (and glibc may then report EINVAL although all else
// was applied): parity is not part of the comparison, since a pty carries
// bytes, not bits on a wire.
std::string settingsDiffer(const termios& want, const termios& got, bool checkSpeed)
{
    constexpr tcflag_t kParityBits = PARENB | PARODD;
    if (want.c_iflag != got.c_iflag)
        return "input flags";
    if (want.c_oflag != got.c_oflag)
        return "output flags";
    if (want.c_lflag != got.c_lflag)
        return "local flags";
    const tcflag_t mask = CSIZE | CSTOPB | CREAD | CLOCAL | HUPCL | kParityBits
#ifdef CRTSCTS
                          | CRTSCTS
#endif
        ;
    if (((want.c_cflag ^ got.c_cflag) & mask & ~kParityBits) != 0)
        return (want.c_cflag ^ got.c_cflag) & CSIZE ? "data bits" : "control flags";
    if (want.c_cc[VMIN] != got.c_cc[VMIN] || want.c_cc[VTIME] != got.c_cc[VTIME])
        return "read limits";
    if (checkSpeed && (::cfgetospeed(&want) != ::cfgetospeed(&got) ||
                       ::cfgetispeed(&want) != ::cfgetispeed(&got)))
        return "baud rate";
    return {};
}

class PosixPort final : public DevicePort {
public:
    PosixPort(int fd, int cancelRead, int cancelWrite, long baud, DeviceLockFile lock)
        : DevicePort(baud), fd_(fd), cancelRead_(cancelRead), cancelWrite_(cancelWrite),
          lock_(std::move(lock))
    {
    }

    ~PosixPort() override
    {
        // TIOCEXCL outlives this descriptor on some systems: give the device
        // back to other programs explicitly. The flock goes with the close.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        ::close(cancelRead_);
        if (cancelWrite_ != cancelRead_)
            ::close(cancelWrite_);
        // The lock file goes last, when the device is free.
    }

protected:
    int writeAll(const uint8_t* src, std::size_t n, Clock::time_point deadline) override
    {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd_, src + done, n - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return fail();
            const int revents = waitFor(POLLOUT, -1, deadline);
            if (revents < 0)
                return revents;
            if (!(revents & POLLOUT))
                return fail();
        }
        return static_cast<int>(n);
    }

    void drainOutput() override { ::tcdrain(fd_); }

    // A pseudo-terminal accepts the break and drops it.
    bool setBreak(bool on) override { return ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0; }

    bool discardInput() override { return ::tcflush(fd_, TCIFLUSH) == 0; }

    void wakeReader() override
    {
        // The cancel descriptor stays readable from now on, so the current
        // poll and every later one return at once.
#if defined(__linux__)
        const uint64_t one = 1;
        [[maybe_unused]] auto r = ::write(cancelWrite_, &one, sizeof one);
#else
        const char one = 1;
        [[maybe_unused]] auto r = ::write(cancelWrite_, &one, 1);
#endif
    }

    void waitForCancel(long long ms) override
    {
        pollfd fd{cancelRead_, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(ms));
    }

    int fill(uint8_t* dst, std::size_t cap, Clock::time_point deadline) override
    {
        bool readable = false, hungUp = false;
        std::chrono::milliseconds waited{0};
        for (int empty = 0;;) {
            if (cancelled())
                return COM_ERR_CANCELLED;
            if (failed())
                return COM_ERR_IO;
            // Everything available in one call: the sampling loop reads one
            // byte at a time from the numbered port's read buffer, not from
            // the device.
            const ssize_t r = ::read(fd_, dst, cap);
            if (r > 0) {
                gathered(static_cast<std::size_t>(r), waited);
                return static_cast<int>(r);
            }
            if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return fail();
            // Bytes received before a hang-up have been read by now.
            if (hungUp)
                return fail();
            if (!readable && gatherOnce(waited, deadline))
                continue;
            // With VMIN = VTIME = 0, read() returns 0 when nothing is there.
            // After poll reported input that happens only when another thread
            // flushed it in between, or when the device is gone without
            // saying so; the second must not turn into a busy loop.
            if (readable && ++empty > kEmptyReadsLimit)
                return fail();
            const int revents = waitFor(POLLIN, cancelRead_, deadline);
            if (revents < 0)
                return revents;
            readable = revents & POLLIN;
            hungUp = revents & (POLLHUP | POLLERR | POLLNVAL);
        }
    }

private:
    // Waits until the device is ready for `events` or reports a hang-up or
    // an error, the cancel descriptor (if any) is readable, or `deadline`
    // passes. Returns the device's poll events (> 0) or a negative code.
    int waitFor(short events, int cancelFd, Clock::time_point deadline)
    {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return COM_ERR_TIMEOUT;
            pollfd fds[2] = {{fd_, events, 0}, {cancelFd, POLLIN, 0}};
            const int n = ::poll(fds, cancelFd >= 0 ? 2 : 1,
                                 static_cast<int>(std::min<long long>(left.count(), 60'000)));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return fail();
            }
            if (cancelFd >= 0 && fds[1].revents)
                return COM_ERR_CANCELLED;
            if (fds[0].revents)
                return fds[0].revents;
            // Nothing yet: the deadline check above ends the wait.
        }
    }

    static constexpr int kEmptyReadsLimit = 16;

    int fd_;
    int cancelRead_, cancelWrite_;
    DeviceLockFile lock_;
};

// One descriptor (an eventfd) or a pipe's two ends for waking a read.
bool makeCancelFds(int* readEnd, int* writeEnd)
{
#if defined(__linux__)
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return false;
    *readEnd = *writeEnd = fd;
    return true;
#else
    int p[2];
    if (::pipe(p) != 0)
        return false;
    for (int fd : p) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    *readEnd = p[0];
    *writeEnd = p[1];
    return true;
#endif
}

// Closes the descriptor unless released: every early return of openDevice
// leaves nothing open.
struct FdGuard {
    int fd;
    ~FdGuard()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

}  // namespace

#if !defined(__linux__)
// Linux has its own in serial_baud_linux.cpp.
int setCustomBaud(int fd, long baud)
{
#if defined(__APPLE__) && defined(IOSSIOSPEED)
    speed_t speed = static_cast<speed_t>(baud);
    return ::ioctl(fd, IOSSIOSPEED, &speed) == 0 ? 0 : errno;
#else
    (void)fd;
    (void)baud;
    return ENOTSUP;
#endif
}

long readBaud(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return -1;
    return static_cast<long>(::cfgetospeed(&t));  // a plain number on the BSDs
}
#endif

std::unique_ptr<SerialPort> openDevice(const std::string& device, const LinkSettings& link,
                                       std::string* error, int* code)
{
    const OpenRefusal refuse{quotePath(device), error, code};
    // The serial tools' lock file first: a program that holds the port that
    // way (minicom, cu) neither flocks it nor sets TIOCEXCL, and the device
    // is not touched (opening raises DTR) while another program has it.
    DeviceLockFile lock;
    if (std::string busy = lock.acquire(device); !busy.empty())
        return refuse(COM_ERR_OPEN, busy);

    // O_NOCTTY: the device must never become this process's controlling
    // terminal. O_NONBLOCK: the open does not wait for carrier, and reads and
    // writes wait in poll() where they can be bounded and cancelled.
    FdGuard fd{::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
    if (fd.fd < 0) {
        const int err = errno;
        if (err == EBUSY)
            return refuse(COM_ERR_OPEN, "busy: another program has it open");
        return refuse(COM_ERR_OPEN, "cannot open: " + errnoText(err));
    }
    if (!::isatty(fd.fd))
        return refuse(COM_ERR_OPEN, "not a serial device");

    // Exclusive use. flock catches another holder whatever its privileges (and
    // a second open in this process); TIOCEXCL then keeps other programs from
    // opening the device at all (root excepted).
    if (::flock(fd.fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK)
            return refuse(COM_ERR_OPEN, "busy: another program has it open");
        return refuse(COM_ERR_OPEN, "cannot lock: " + errnoText(err));
    }
    if (::ioctl(fd.fd, TIOCEXCL) != 0)
        return refuse(COM_ERR_OPEN, "cannot get exclusive use: " + errnoText(errno));

    termios current{};
    if (::tcgetattr(fd.fd, &current) != 0) {
        ::ioctl(fd.fd, TIOCNXCL);
        return refuse(COM_ERR_CONFIG, "cannot read settings: " + errnoText(errno));
    }
    termios want = rawSettings(current, link);
    const speed_t speed = standardSpeed(link.baud);
    const bool custom = speed == B0;
    // A custom rate is set after the rest; the standard placeholder keeps
    // cfsetspeed from refusing.
    ::cfsetispeed(&want, custom ? B38400 : speed);
    ::cfsetospeed(&want, custom ? B38400 : speed);

    auto refuseSettings = [&](const std::string& why) {
        ::ioctl(fd.fd, TIOCNXCL);
        return refuse(COM_ERR_CONFIG, why);
    };
    // The return value of tcsetattr does not say what was applied (success if
    // anything was, EINVAL on a pty that dropped PARENB although the rest was
    // taken): the settings read back decide.
    ::tcsetattr(fd.fd, TCSANOW, &want);
    termios got{};
    if (::tcgetattr(fd.fd, &got) != 0)
        return refuseSettings("cannot read settings: " + errnoText(errno));
    if (auto what = settingsDiffer(want, got, !custom); !what.empty())
        return refuseSettings("the device refused the link setting (" + what + ")");

    if (custom) {
        if (const int err = setCustomBaud(fd.fd, link.baud); err != 0)
            return refuseSettings("baud rate " + std::to_string(link.baud) + " is not supported" +
                                  (err == ENOTSUP ? " on this system" : ": " + errnoText(err)));
#if defined(__linux__)
        if (readBaud(fd.fd) != link.baud)
            return refuseSettings("the device refused baud rate " + std::to_string(link.baud));
#endif
    }

    int cancelRead = -1, cancelWrite = -1;
    if (!makeCancelFds(&cancelRead, &cancelWrite))
        return refuseSettings("cannot create a wake-up descriptor: " + errnoText(errno));
    // The input and output queue sizes of the caller are not used: the
    // kernel keeps its own queues and the numbered port's read buffer serves
    // reads.
    return std::make_unique<PosixPort>(fd.release(), cancelRead, cancelWrite, link.baud,
                                       std::move(lock));
}

}  // namespace tarvo::rt
