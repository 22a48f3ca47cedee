// Serial devices on Windows through the Win32 communications API.
//
// The port is opened for overlapped I/O, so that a read can wait for its
// deadline and for a cancel event at once: CancelComRd, from another thread,
// sets the event and the reader takes its own request back with CancelIoEx.
// The records on the line are binary: every byte value must pass untouched,
// so the DCB is written in full (binary mode, no flow control, no NUL
// stripping, no error character): a port keeps the settings of its previous
// user otherwise.
//
// Waiting for data uses the driver's read time-out (COMMTIMEOUTS) on a
// one-byte read; what arrived with that byte is then taken in one more read
// of exactly the count the driver reports queued. That keeps to the
// semantics every driver implements (and wine too), unlike the special
// MAXDWORD combinations, which some drivers and wine do not honour.
#include "runtime.h"
#include "serial_device.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <utility>

namespace tarvo::rt {

namespace {

// The driver's queues, as a recommendation: large enough to hold about half
// a second of a 921,600 bit/s stream while the reader is late.
constexpr DWORD kInputQueue = 64 * 1024;
constexpr DWORD kOutputQueue = 4 * 1024;

std::string systemText(DWORD err)
{
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "error " + std::to_string(err);
    if (text)
        LocalFree(text);
    while (!s.empty() &&
           (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

// A handle closed on every path out of openDevice unless released.
struct HandleGuard {
    HANDLE h;
    ~HandleGuard()
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    HANDLE release() { return std::exchange(h, nullptr); }
};

// "COM3", "com12" or "\\.\COM12" -> "\\.\COM12". The prefix is required for
// COM10 and above and harmless below; any other name is used as given.
std::string devicePath(const std::string& device)
{
    if (device.rfind("\\\\", 0) == 0)
        return device;
    return "\\\\.\\" + device;
}

class Win32Port final : public DevicePort {
public:
    Win32Port(HANDLE h, HANDLE readEvent, HANDLE writeEvent, HANDLE cancelEvent, long baud)
        : DevicePort(baud), h_(h), readEvent_(readEvent), writeEvent_(writeEvent),
          cancelEvent_(cancelEvent)
    {
        // Until the first wait sets its own: bounds a read of queued bytes.
        setReadTimeout(1000);
    }

    ~Win32Port() override
    {
        CloseHandle(h_);
        CloseHandle(readEvent_);
        CloseHandle(writeEvent_);
        CloseHandle(cancelEvent_);
    }

protected:
    int writeAll(const uint8_t* src, std::size_t n, Clock::time_point deadline) override
    {
        std::size_t done = 0;
        while (done < n) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n - done, 1 << 20));
            DWORD put = 0;
            const int r =
                transfer(false, const_cast<uint8_t*>(src + done), chunk, &put, deadline, nullptr);
            done += put;
            if (r < 0)
                return r;
        }
        return static_cast<int>(std::min<std::size_t>(n, INT32_MAX));
    }

    void drainOutput() override { FlushFileBuffers(h_); }

    bool setBreak(bool on) override { return (on ? SetCommBreak(h_) : ClearCommBreak(h_)) != 0; }

    bool discardInput() override { return PurgeComm(h_, PURGE_RXCLEAR) != 0; }

    // Manual reset: the current wait and every later one end at once.
    void wakeReader() override { SetEvent(cancelEvent_); }

    void waitForCancel(long long ms) override
    {
        WaitForSingleObject(cancelEvent_, static_cast<DWORD>(ms));
    }

    int fill(uint8_t* dst, std::size_t cap, Clock::time_point deadline) override
    {
        const DWORD room = static_cast<DWORD>(std::min<std::size_t>(cap, 1 << 20));
        std::chrono::milliseconds waited{0};
        for (int early = 0;;) {
            if (cancelled())
                return COM_ERR_CANCELLED;
            if (failed())
                return COM_ERR_IO;
            // Everything queued in one call: the sampling loop reads one byte
            // at a time from the numbered port's read buffer, not from the
            // device.
            const int queued = takeQueued(dst, room);
            if (queued > 0)
                gathered(static_cast<std::size_t>(queued), waited);
            if (queued != 0)
                return queued;
            if (gatherOnce(waited, deadline))
                continue;

            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return COM_ERR_TIMEOUT;
            // A day at most per wait; the loop goes on for longer time-outs.
            const DWORD waitMs = static_cast<DWORD>(std::min<long long>(left.count(), 86'400'000));
            if (!setReadTimeout(waitMs))
                return fail();
            DWORD got = 0;
            const int r = transfer(true, dst, 1, &got, deadline, cancelEvent_);
            if (got == 1) {
                const int more = room > 1 ? takeQueued(dst + 1, room - 1) : 0;
                const int n = more < 0 ? 1 : 1 + more;
                gathered(static_cast<std::size_t>(n), waited);
                return n;
            }
            if (r == COM_ERR_CANCELLED || (r < 0 && r != COM_ERR_TIMEOUT))
                return r;
            // The driver's time-out ends the read at the deadline. A read
            // that ends well before it with nothing, again and again, is a
            // device that is gone without saying so: it must not turn into
            // a busy loop.
            if (Clock::now() + std::chrono::milliseconds(5) < deadline &&
                ++early > kEarlyReadsLimit)
                return fail();
        }
    }

private:
    // Reads what the driver holds already, at most `room` bytes, without
    // waiting for more. Returns the count (0: nothing queued) or COM_ERR_IO.
    int takeQueued(uint8_t* dst, DWORD room)
    {
        DWORD errors = 0;
        COMSTAT status{};
        // Also clears a line error (overrun, framing, parity), which would
        // otherwise hold back further reads on some drivers.
        if (!ClearCommError(h_, &errors, &status))
            return fail();
        const DWORD want = std::min(status.cbInQue, room);
        if (want == 0)
            return 0;
        // The bytes are there, so the read returns at once; the current read
        // time-out bounds it should the driver have counted wrong.
        DWORD got = 0;
        const int r =
            transfer(true, dst, want, &got, Clock::now() + std::chrono::seconds(2), nullptr);
        if (got > 0)
            return static_cast<int>(got);
        return r == COM_ERR_TIMEOUT ? 0 : r;
    }

    bool setReadTimeout(DWORD ms)
    {
        if (ms == readTimeoutMs_)
            return true;
        // Total time-out only: the read returns with its one byte as soon as
        // it arrives, or with none after `ms`. Writes are bounded by the
        // wait in transfer().
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = 0;
        t.ReadTotalTimeoutMultiplier = 0;
        t.ReadTotalTimeoutConstant = ms;
        if (!SetCommTimeouts(h_, &t))
            return false;
        readTimeoutMs_ = ms;
        return true;
    }

    // One overlapped read or write, waited for until it completes, `cancel`
    // (if any) is set, or `deadline` passes plus a margin in which the
    // driver's own time-out should have ended it. *done gets the bytes
    // moved, whatever the result. Returns 0, COM_ERR_TIMEOUT,
    // COM_ERR_CANCELLED or COM_ERR_IO.
    int transfer(bool read, uint8_t* buf, DWORD n, DWORD* done, Clock::time_point deadline,
                 HANDLE cancel)
    {
        *done = 0;
        OVERLAPPED ov{};
        ov.hEvent = read ? readEvent_ : writeEvent_;
        ResetEvent(ov.hEvent);
        const BOOL ok =
            read ? ReadFile(h_, buf, n, nullptr, &ov) : WriteFile(h_, buf, n, nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING)
            return fail();

        bool cancelled = false;
        if (!ok) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const DWORD waitMs = static_cast<DWORD>(
                std::clamp<long long>(left.count() + kDriverMarginMs, 0, 86'400'000));
            HANDLE events[2] = {ov.hEvent, cancel};
            const DWORD w = WaitForMultipleObjects(cancel ? 2 : 1, events, FALSE, waitMs);
            if (w != WAIT_OBJECT_0) {
                cancelled = w == WAIT_OBJECT_0 + 1;
                CancelIoEx(h_, &ov);
            }
        }
        // Waits for the request to end, completed or taken back: the
        // OVERLAPPED and the buffer must outlive it.
        DWORD moved = 0;
        const BOOL finished = GetOverlappedResult(h_, &ov, &moved, TRUE);
        const DWORD err = finished ? ERROR_SUCCESS : GetLastError();
        *done = moved;
        // A read that ends by its time-out succeeds with fewer bytes.
        if (finished)
            return moved == n ? 0 : COM_ERR_TIMEOUT;
        switch (err) {
        case ERROR_OPERATION_ABORTED:
            // Taken back here (cancel, or the driver overran its own
            // time-out), or aborted by the driver: no failure either way.
            return cancelled ? COM_ERR_CANCELLED : COM_ERR_TIMEOUT;
        case ERROR_TIMEOUT:  // how wine ends a read at its time-out
        case ERROR_COUNTER_TIMEOUT: return COM_ERR_TIMEOUT;
        default: return fail();
        }
    }

    static constexpr int kEarlyReadsLimit = 16;
    static constexpr long long kDriverMarginMs = 500;

    HANDLE h_;
    HANDLE readEvent_, writeEvent_, cancelEvent_;
    DWORD readTimeoutMs_ = MAXDWORD;  // the COMMTIMEOUTS constant in force
};

// The DCB for `link`, on top of what the driver reports (which fills the
// fields this layer has no opinion on, such as the XON/XOFF limits).
DCB linkDcb(const DCB& current, const LinkSettings& link)
{
    DCB d = current;
    d.DCBlength = sizeof d;
    d.BaudRate = static_cast<DWORD>(link.baud);
    d.fBinary = TRUE;  // Windows supports nothing else; said for the driver
    // Parity is generated and expected on the wire, but not checked: a byte
    // with a parity error is passed as received (the record counter catches
    // a damaged stream), never replaced or dropped.
    d.fParity = FALSE;
    d.Parity = link.parity == kOddParity    ? ODDPARITY
               : link.parity == kEvenParity ? EVENPARITY
                                            : NOPARITY;
    d.ByteSize = static_cast<BYTE>(link.dataBits);
    d.StopBits = link.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    // No flow control of any kind: 0x11 and 0x13 are data, and the board
    // has no handshake lines.
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDsrSensitivity = FALSE;
    d.fOutX = FALSE;
    d.fInX = FALSE;
    d.fTXContinueOnXoff = TRUE;
    // DTR and RTS held up while the port is open, as termios leaves them; a
    // board powered or reset through DTR sees no change between the
    // handshake and the run.
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fErrorChar = FALSE;           // no replacement of bytes with errors
    d.fNull = FALSE;                // 0x00 is data
    d.fAbortOnError = FALSE;        // a line error must not fail later reads
    if (d.XonChar == d.XoffChar) {  // SetCommState refuses equal characters
        d.XonChar = 0x11;
        d.XoffChar = 0x13;
    }
    return d;
}

// What the device must have taken for the open to count, read back from the
// driver. Parity is not compared: a device that carries bytes rather than
// bits on a wire (a virtual port, a pseudo-terminal under wine) has none.
std::string dcbDiffers(const DCB& want, const DCB& got)
{
    if (got.BaudRate != want.BaudRate)
        return "baud rate " + std::to_string(want.BaudRate);
    if (got.ByteSize != want.ByteSize)
        return "data bits";
    if (got.StopBits != want.StopBits)
        return "stop bits";
    if (got.fOutxCtsFlow || got.fOutxDsrFlow || got.fOutX || got.fInX)
        return "flow control";
    if (got.fNull || got.fErrorChar)
        return "byte replacement";
    return {};
}

}  // namespace

std::unique_ptr<SerialPort> openDevice(const std::string& device, const LinkSettings& link,
                                       std::string* error, int* code)
{
    const OpenRefusal refuse{device, error, code};
    // No sharing: a serial port belongs to one program at a time (the
    // drivers enforce it too).
    HandleGuard h{CreateFileA(devicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
            return refuse(COM_ERR_OPEN, "busy: another program has it open");
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return refuse(COM_ERR_OPEN, "no such port");
        return refuse(COM_ERR_OPEN, "cannot open: " + systemText(err));
    }

    DCB current{};
    current.DCBlength = sizeof current;
    if (!GetCommState(h.h, &current))
        return refuse(COM_ERR_OPEN, "not a serial device");
    SetupComm(h.h, kInputQueue, kOutputQueue);  // a recommendation; drivers may keep their own

    const DCB want = linkDcb(current, link);
    DCB applied = want;
    if (!SetCommState(h.h, &applied)) {
        const DWORD err = GetLastError();
        // A device that takes everything but parity carries bytes, not bits
        // on a wire (see dcbDiffers): it is used without.
        applied.Parity = NOPARITY;
        if (want.Parity == NOPARITY || !SetCommState(h.h, &applied))
            return refuse(COM_ERR_CONFIG,
                          "the device refused the link setting (" +
                              (want.ByteSize != 8 ? std::string("data bits") : systemText(err)) +
                              ")");
    }
    DCB got{};
    got.DCBlength = sizeof got;
    if (!GetCommState(h.h, &got))
        return refuse(COM_ERR_CONFIG, "cannot read settings back");
    if (auto what = dcbDiffers(want, got); !what.empty())
        return refuse(COM_ERR_CONFIG, "the device refused the link setting (" + what + ")");

    HandleGuard readEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HandleGuard writeEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HandleGuard cancelEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    if (!readEvent.h || !writeEvent.h || !cancelEvent.h)
        return refuse(COM_ERR_OPEN, "cannot create events: " + systemText(GetLastError()));
    return std::make_unique<Win32Port>(h.release(), readEvent.release(), writeEvent.release(),
                                       cancelEvent.release(), link.baud);
}

}  // namespace tarvo::rt
