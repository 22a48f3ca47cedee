// The virtual board: the board model behind the SerialPort interface, in this
// process, with no thread of its own. What the board sends waits in `line`;
// records are made lazily when a read asks for them, as many as are due by
// then on a schedule anchored at the start byte, so the recorder sees the
// same pacing as from a real board. The records cross a line of the port's
// baud rate: what the line cannot carry is not sent, as on a real board whose
// period is too short for its rate. A reader that falls far behind loses the
// oldest records, as a receiver would on overrun; the record counter shows both.
#include "serial_virtual.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "record_pacer.h"
#include "runtime.h"
#include "serial_port.h"

namespace tarvo::rt {

namespace {

using board::BoardModel;
using State = BoardModel::State;

// Due records that nobody has read yet, at most: beyond that the oldest are lost.
constexpr std::size_t kReceiveQueue = 8 * 1024;

// One board per port number, alive for the whole process.
struct Board {
    std::mutex mutex;
    std::condition_variable wake;
    BoardModel model;
    std::vector<uint8_t> line;  // sent by the board, not yet read
    board::RecordPacer pacer{kReceiveQueue};
    bool streamStarted = false;

    explicit Board(const board::Faults& f) : model(f) { collect(); }

    // The model's handshake output goes on the line; a start byte anchors the schedule.
    void collect()
    {
        const auto out = model.takeOutput();
        line.insert(line.end(), out.begin(), out.end());
        if (model.state() == State::Idle || model.state() == State::Identified)
            streamStarted = false;
        if (model.streaming() && !streamStarted) {
            streamStarted = true;
            pacer.start(Clock::now());
        }
    }

    // Puts on the line the records due by `now` (flood: enough to fill `cap`).
    void advance(Clock::time_point now, std::size_t cap)
    {
        // Records still on the line arrive after the stream has stopped.
        if (!model.streaming() && !pacer.inFlight())
            return;
        const uint64_t len = model.config().recLen;
        if (model.flood()) {
            if (line.size() < cap)
                model.produce(&line, (cap - line.size() + len - 1) / len);
            return;
        }
        pacer.pace(model, &line, line.size(), now);
    }

    Clock::time_point nextDue() const
    {
        return pacer.nextDue(model.period(), model.recordNumber());
    }
};

class Boards {
public:
    Board& of(int port)
    {
        std::lock_guard lock(mutex_);
        auto& b = boards_[port];
        if (!b)
            b = std::make_unique<Board>(board::Faults{});
        return *b;
    }

private:
    std::mutex mutex_;
    std::map<int, std::unique_ptr<Board>> boards_;
};

// Never destroyed: a port closed during static destruction still needs its board.
Boards& boards()
{
    static Boards* b = new Boards;
    return *b;
}

class VirtualPort final : public SerialPort {
public:
    VirtualPort(Board& b, const LinkSettings& link) : b_(b)
    {
        std::lock_guard lock(b_.mutex);
        b_.model.linkOpened();
        // Records cross the line at the bit times of its framing.
        b_.pacer.setLine(link.baud, linebits(uint32_t(link.dataBits), link.parity != kNoParity,
                                             uint32_t(link.stopBits)));
        static constexpr char parity[] = {'N', 'O', 'E'};
        b_.model.note("line " + std::to_string(link.baud) + " " + std::to_string(link.dataBits) +
                      parity[std::clamp(link.parity, 0, 2)] + std::to_string(link.stopBits));
        b_.collect();
    }

    ~VirtualPort() override
    {
        std::lock_guard lock(b_.mutex);
        b_.model.linkClosed();
        b_.collect();
        b_.wake.notify_all();
    }

    int write(const uint8_t* src, std::size_t n) override
    {
        std::lock_guard lock(b_.mutex);
        if (b_.model.state() == State::HungUp)
            return COM_ERR_IO;
        b_.model.receive(src, n);
        b_.collect();
        b_.wake.notify_all();
        return int(std::min<std::size_t>(n, INT32_MAX));
    }

    int sendBreak(int /*milliseconds*/) override
    {
        // The board reacts to the start of the break; holding the line for the
        // full time would only slow the recorder down.
        std::lock_guard lock(b_.mutex);
        b_.model.lineBreak();
        b_.collect();
        b_.wake.notify_all();
        return 0;
    }

    void cancelReads() override
    {
        std::lock_guard lock(b_.mutex);
        cancelled_ = true;
        b_.wake.notify_all();
    }

protected:
    int fill(uint8_t* dst, std::size_t cap, Clock::time_point deadline) override
    {
        std::unique_lock lock(b_.mutex);
        for (;;) {
            if (cancelled_)
                return COM_ERR_CANCELLED;
            const auto now = Clock::now();
            b_.advance(now, cap);
            if (!b_.line.empty()) {
                const std::size_t n = std::min({cap, b_.line.size(), std::size_t(INT32_MAX)});
                std::copy_n(b_.line.begin(), n, dst);
                b_.line.erase(b_.line.begin(), b_.line.begin() + std::ptrdiff_t(n));
                return int(n);
            }
            if (b_.model.state() == State::HungUp && !b_.pacer.inFlight())
                return COM_ERR_IO;
            if (now >= deadline)
                return COM_ERR_TIMEOUT;
            auto until = deadline;
            if (b_.model.streaming() && !b_.model.flood())
                until = std::min(until, b_.nextDue());
            until = std::min(until, b_.pacer.nextArrival());
            b_.wake.wait_until(lock, until);
        }
    }

    int discardDeviceInput() override
    {
        std::lock_guard lock(b_.mutex);
        // Records already due were on the line: they go with the rest.
        b_.advance(Clock::now(), 0);
        b_.line.clear();
        return 0;
    }

private:
    Board& b_;
    bool cancelled_ = false;  // under b_.mutex
};

}  // namespace

std::unique_ptr<SerialPort> openVirtual(int port, const LinkSettings& link)
{
    return std::make_unique<VirtualPort>(boards().of(port), link);
}

void resetVirtualBoard(int port, const board::Faults& faults)
{
    Board& b = boards().of(port);
    std::lock_guard lock(b.mutex);
    b.model = BoardModel(faults);
    b.line.clear();
    b.streamStarted = false;
    b.pacer.clearOverrun();
    b.collect();
    b.wake.notify_all();
}

void inspectVirtualBoard(int port, const std::function<void(const board::BoardModel&)>& fn)
{
    Board& b = boards().of(port);
    std::lock_guard lock(b.mutex);
    fn(b.model);
}

}  // namespace tarvo::rt
