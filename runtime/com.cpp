// The numbered serial ports of runtime.h.
//
// Port numbers index a fixed table. Open and close take a mutex; the reads,
// writes and the rest only register as users of their slot. Closing a port
// that another thread is reading is safe: the closer takes the port out of
// the table, cancels its reads and waits until its last user has left before
// freeing it.
//
// Every read goes through the slot's read buffer (serial_read_buffer.h):
// ComRdByte, called once per byte by the sampling thread, takes its byte from
// there without registering as a user (two locked instructions per byte were
// half the cost of a record); the port is held only to refill the buffer.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "com_table.h"
#include "options.h"
#include "runtime.h"
#include "serial_port.h"
#include "serial_read_buffer.h"

namespace tarvo::rt {

namespace {

struct Slot {
    std::atomic<SerialPort*> port{nullptr};
    std::atomic<int> users{0};
    std::string lastError;  // under Table::mutex
    SerialReadBuffer buffer;
};

struct Table {
    std::mutex mutex;  // serialises open and close, guards lastError
    std::array<Slot, kMaxPortNumber + 1> slots;
};

// Never destroyed: a thread still inside a port at exit must not find the
// table gone. Ports left open at exit are reclaimed by the system.
Table& table()
{
    static Table* t = new Table;
    return *t;
}

bool validNumber(int port) { return port >= 1 && port <= kMaxPortNumber; }

// The port of a slot, for the duration of one call. The seq_cst increment
// before the load pairs with the closer's exchange and users check: either
// this user sees the port gone, or the closer sees this user and waits.
class Use {
public:
    explicit Use(Slot& slot) : slot_(slot)
    {
        slot_.users.fetch_add(1, std::memory_order_seq_cst);
        port_ = slot_.port.load(std::memory_order_seq_cst);
    }
    ~Use() { slot_.users.fetch_sub(1, std::memory_order_release); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    SerialPort* operator->() const { return port_; }
    SerialPort& operator*() const { return *port_; }
    explicit operator bool() const { return port_ != nullptr; }

private:
    Slot& slot_;
    SerialPort* port_;
};

// Caller holds the table mutex.
bool closeLocked(Slot& slot)
{
    SerialPort* port = slot.port.exchange(nullptr, std::memory_order_seq_cst);
    if (!port)
        return false;
    // A reader blocked in the port would otherwise keep it for a whole
    // time-out; cancelled, it returns at once.
    port->cancelReads();
    while (slot.users.load(std::memory_order_acquire) != 0)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    delete port;
    slot.buffer.clear();
    return true;
}

// The one check of a link setting: every kind of port takes it as valid.
std::string linkProblem(const LinkSettings& link)
{
    if (link.baud <= 0)
        return "baud rate must be positive";
    // The fastest USB-serial chips run at 12 Mbit/s; a larger number is a typing
    // error that some drivers (and every pty) would accept without a word.
    if (link.baud > 12'000'000)
        return "baud rate above 12,000,000 bit/s";
    if (link.parity < kNoParity || link.parity > kEvenParity)
        return "parity must be 0 (none), 1 (odd) or 2 (even)";
    if (link.dataBits < 5 || link.dataBits > 8)
        return "data bits must be 5 to 8";
    if (link.stopBits < 1 || link.stopBits > 2)
        return "stop bits must be 1 or 2";
    return {};
}

}  // namespace

std::string lastComError(int port)
{
    if (!validNumber(port))
        return "port number " + std::to_string(port) + " is out of range";
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.slots[port].lastError;
}

}  // namespace tarvo::rt

using namespace tarvo::rt;

// Opens port number `port` under the table's lock; `failure` says why not.
static int openLocked(int port, const char* deviceName, long baud, int parity, int dataBits,
                      int stopBits, std::string& failure)
{
    auto& t = table();
    std::lock_guard lock(t.mutex);
    Slot& slot = t.slots[port];
    // Reopening a number replaces its port: the old one is closed first so
    // the device is free for the new open.
    closeLocked(slot);

    auto failWith = [&](int code, const std::string& why) {
        slot.lastError = why;
        // The program's messages name no cause ("Unknown device!"): the user
        // finds the reason here, and under the run status.
        std::fprintf(stderr, "tarvo: port %d: %s\n", port, why.c_str());
        failure = "port " + std::to_string(port) + ": " + why;
        return code;
    };
    const std::string device =
        deviceName && *deviceName ? std::string(deviceName) : comDevice(port);
    if (device.empty())
        return failWith(COM_ERR_OPEN, "port " + std::to_string(port) +
                                          " has no device; give one with --com " +
                                          std::to_string(port) + "=DEVICE");
    const LinkSettings link{baud, parity, dataBits, stopBits};
    if (auto problem = linkProblem(link); !problem.empty())
        return failWith(COM_ERR_BAD_ARG, quotePath(device) + ": " + problem);

    std::unique_ptr<SerialPort> opened;
    if (device == kVirtualDevice) {
        opened = openVirtual(port, link);
        if (!opened)
            return failWith(COM_ERR_OPEN, "the virtual board cannot be opened");
    } else {
        std::string why;
        int code = COM_ERR_OPEN;
        opened = openDevice(device, link, &why, &code);
        if (!opened)
            return failWith(code < 0 ? code : COM_ERR_OPEN, why);
    }
    opened->setTimeout(
        std::chrono::microseconds(static_cast<long long>(DEFAULT_COM_TIMEOUT * 1e6)));
    slot.lastError.clear();
    slot.buffer.allocate();
    slot.buffer.clear();
    slot.port.store(opened.release(), std::memory_order_seq_cst);
    return 0;
}

// The queue sizes are accepted and not used: the kernel (or the board model)
// keeps its own queues, and the slot's 64 KiB read buffer serves the reads.
int OpenComConfig(int port, const char* deviceName, long baud, int parity, int dataBits,
                  int stopBits, int /*inputQueueSize*/, int /*outputQueueSize*/)
{
    if (!validNumber(port))
        return COM_ERR_BAD_ARG;
    std::string failure;
    const int r = openLocked(port, deviceName, baud, parity, dataBits, stopBits, failure);
    // Outside the table's lock: the window may paint the note at once.
    if (r < 0)
        RunStatusNote(failure.c_str());
    return r;
}

int CloseCom(int port)
{
    if (!validNumber(port))
        return COM_ERR_BAD_ARG;
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return closeLocked(t.slots[port]) ? 0 : COM_ERR_NOT_OPEN;
}

int FlushInQ(int port)
{
    if (!validNumber(port))
        return COM_ERR_BAD_ARG;
    Slot& slot = table().slots[port];
    Use p(slot);
    if (!p)
        return COM_ERR_NOT_OPEN;
    slot.buffer.clear();
    return p->discardDeviceInput();
}

int ComBreak(int port, int milliseconds)
{
    if (!validNumber(port) || milliseconds < 0)
        return COM_ERR_BAD_ARG;
    Use p(table().slots[port]);
    return p ? p->sendBreak(milliseconds) : COM_ERR_NOT_OPEN;
}

int ComRd(int port, void* buffer, int count)
{
    if (!validNumber(port) || count < 0 || (count > 0 && !buffer))
        return COM_ERR_BAD_ARG;
    Slot& slot = table().slots[port];
    Use p(slot);
    if (!p)
        return COM_ERR_NOT_OPEN;
    return slot.buffer.read(*p, static_cast<uint8_t*>(buffer), static_cast<std::size_t>(count));
}

int ComRdByte(int port)
{
    if (!validNumber(port))
        return COM_ERR_BAD_ARG;
    Slot& slot = table().slots[port];
    if (const int b = slot.buffer.takeByte(); b != SerialReadBuffer::kEmpty)
        return b;
    Use p(slot);
    if (!p)
        return COM_ERR_NOT_OPEN;
    return slot.buffer.readByte(*p);
}

int ComWrtByte(int port, int byte)
{
    if (!validNumber(port))
        return COM_ERR_BAD_ARG;
    Use p(table().slots[port]);
    if (!p)
        return COM_ERR_NOT_OPEN;
    const uint8_t b = static_cast<uint8_t>(byte);
    const int r = p->write(&b, 1);
    return r < 0 ? r : 1;
}

int SetComTime(int port, double seconds)
{
    if (!validNumber(port) || !(seconds >= 0))
        return COM_ERR_BAD_ARG;
    Use p(table().slots[port]);
    if (!p)
        return COM_ERR_NOT_OPEN;
    // A day is as good as for ever and keeps the deadline arithmetic in range.
    const double capped = std::min(seconds, 86400.0);
    p->setTimeout(std::chrono::microseconds(std::llround(capped * 1e6)));
    return 0;
}

int CancelComRd(int port)
{
    if (!validNumber(port))
        return COM_ERR_BAD_ARG;
    Use p(table().slots[port]);
    if (!p)
        return COM_ERR_NOT_OPEN;
    p->cancelReads();
    return 0;
}

const char* ComErrorText(int code)
{
    switch (code) {
    case COM_ERR_NOT_OPEN: return "the port is not open";
    case COM_ERR_OPEN: return "the device cannot be opened (missing or busy)";
    case COM_ERR_CONFIG: return "the device refuses the link setting";
    case COM_ERR_IO: return "the device failed or went away";
    case COM_ERR_BAD_ARG: return "invalid argument";
    case COM_ERR_TIMEOUT: return "nothing arrived within the read time-out";
    case COM_ERR_CANCELLED: return "the read was cancelled";
    default: return code >= 0 ? "no error" : "unknown serial error";
    }
}
