// tarvo-board's driver: the board model on its link to the recorder, a
// pseudo-terminal (default, pty_link.h) or a real serial port (tty_link.h).
// It feeds the model what the recorder sends, writes what the model has to
// send, and paces the records by the model's period.
//
// A pty carries no line break, so on a pty the recorder's input flush or its
// opening of the slave stands in for the break; the model decides what each
// one means in its state. After a finished handshake the recorder's next
// flush is either that of its reopening at the acquisition rate, which the
// start byte follows at once, or that of a new handshake (a Start pressed
// again after a run that never began): the board waits kStartByteWait for
// the start byte and otherwise restarts, still well before the recorder
// reads.
//
// On a real port the break arrives as a parity mark, and the link switches
// between the handshake rate 8N1 and the acquisition rate with even parity.
#include "board_driver_posix.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "pty_link.h"
#include "record_pacer.h"
#include "serial_speed.h"
#include "tty_link.h"

namespace tarvo::board {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kChunk = 64 * 1024;       // flood mode: bytes per write
constexpr std::size_t kMaxBacklog = 64 * 1024;  // paced records beyond this are lost, as in an overrun
constexpr auto kOpenGrace = 150ms;     // an open without a flush counts as the break after this
constexpr auto kAbandoned = 3s;        // a configured board left closed this long was given up
constexpr auto kBreakDebounce = 200ms; // one long break may arrive as several marks
// A second flush this soon after the one that stood in for the break came
// before the recorder could read the identification (it reads three quarters
// of a second after it: the 500 ms break and a quarter second's pause): the
// identification was discarded and goes out again. A later flush is the one
// that follows the read.
constexpr auto kResendWindow = 200ms;
// After a finished handshake, a flush (or an open) is a break only if no
// start byte follows it within this time: the recorder sends the start byte
// right after its flush, and reads the identification 750 ms after a break.
constexpr auto kStartByteWait = 500ms;

volatile sig_atomic_t gStop = 0;
extern "C" void onStopSignal(int) { gStop = 1; }

// The log or the dump: stderr, or a file of the driver's own.
struct OutputFile {
    FILE* f = nullptr;
    bool owned = false;
    ~OutputFile()
    {
        if (f && owned) std::fclose(f);
    }
    bool open(const std::string& path, const char* mode)
    {
        f = std::fopen(path.c_str(), mode);
        owned = true;
        if (!f) std::fprintf(stderr, "tarvo-board: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return f != nullptr;
    }
};

class Driver {
public:
    explicit Driver(const DriverOptions& options) : options_(options), model_(options.faults) {}
    ~Driver();
    int run();

private:
    bool openFiles();
    bool openDevice();
    bool applyLine(TtyLink::Line line);
    void pump();
    void writeOut();
    void readLink();
    void readDevice();
    void readInotify();
    void accessSeen(PtyLink::Access access);
    void lineBreak();
    void flushSeen();
    void withdrawUnread();
    void standIn(const char* what, Clock::time_point at);
    void linkClosed();
    void timers();
    void drainLog();
    void awaitReader();
    bool recordsDone() const { return options_.records && model_.recordNumber() >= options_.records; }
    bool allWritten() const { return handshakeOut_.empty() && recordsWritten_ == recordsOut_.size(); }
    Clock::time_point nextWake() const;
    void received(const uint8_t* bytes, std::size_t n);
    int linkFd() const { return pty_ ? pty_->fd() : tty_->fd(); }

    const DriverOptions& options_;
    BoardModel model_;
    std::unique_ptr<PtyLink> pty_;  // one of the two links
    std::unique_ptr<TtyLink> tty_;
    OutputFile log_, dump_;

    std::vector<uint8_t> handshakeOut_;  // handshake bytes not yet written
    std::vector<uint8_t> recordsOut_;    // record bytes, written up to recordsWritten_
    std::size_t recordsWritten_ = 0;
    RecordPacer pacer_{kMaxBacklog};
    bool wasStreaming_ = false;
    bool doneNoted_ = false;
    bool done_ = false;
    int exitStatus_ = 0;

    Clock::time_point openedAt_{};
    std::optional<Clock::time_point> openTimer_, closedSince_, heldUntil_;
    Clock::time_point breakAt_{};  // the flush or open that last stood in for a break
    const char* heldBy_ = "flush";  // what the held stand-in was
    Clock::time_point lastBreak_{};
};

Driver::~Driver()
{
    drainLog();
    if (dump_.f) std::fflush(dump_.f);
}

bool Driver::openFiles()
{
    if (options_.logFile == "-")
        log_.f = stderr;
    else if (!options_.logFile.empty() && !log_.open(options_.logFile, "w"))
        return false;
    return options_.dumpFile.empty() || dump_.open(options_.dumpFile, "wb");
}

bool Driver::openDevice()
{
    tty_ = std::make_unique<TtyLink>();
    if (!tty_->open(options_.device)) return false;
    if (!applyLine(TtyLink::Line::Handshake)) {
        std::fprintf(stderr, "tarvo-board: %s refuses %ld 8N1: %s\n", options_.device.c_str(), options_.baud,
                     std::strerror(errno));
        return false;
    }
    tty_->discardBoth();
    return true;
}

bool Driver::applyLine(TtyLink::Line line)
{
    long baud = options_.baud;
    if (line == TtyLink::Line::Acquisition) {
        const long rateClass = model_.config().baud;
        baud = rateClass ? rateClass : options_.otherBaud;
    }
    if (!tty_->apply(line, baud)) return false;
    model_.note(std::string("line ") + std::to_string(baud) +
                (line == TtyLink::Line::Acquisition ? " 8E1" : " 8N1"));
    return true;
}

void Driver::received(const uint8_t* bytes, std::size_t n)
{
    if (n == 0) return;
    // A recorder that talks after opening, without a flush, sends no break.
    openTimer_.reset();
    model_.receive(bytes, n);
    if (!model_.held()) heldUntil_.reset();
    if (model_.streaming() && !wasStreaming_) {
        pacer_.start(Clock::now());
        wasStreaming_ = true;
        doneNoted_ = false;
    }
}

// Moves the model's handshake output and the records due by now into the
// write buffers.
void Driver::pump()
{
    auto out = model_.takeOutput();
    handshakeOut_.insert(handshakeOut_.end(), out.begin(), out.end());

    if (model_.state() == BoardModel::State::Idle || model_.state() == BoardModel::State::Identified) {
        // A new handshake: whatever records had not gone out never will.
        recordsOut_.clear();
        recordsWritten_ = 0;
        wasStreaming_ = false;
    }
    if (!model_.streaming() || recordsDone()) {
        if (recordsDone() && !doneNoted_) {
            model_.note("done after record " + std::to_string(model_.recordNumber()));
            doneNoted_ = true;
        }
        return;
    }
    const std::size_t backlog = recordsOut_.size() - recordsWritten_;
    if (recordsWritten_ > 0 && backlog == 0) {
        recordsOut_.clear();
        recordsWritten_ = 0;
    }
    const uint64_t left = options_.records ? options_.records - model_.recordNumber() : UINT64_MAX;
    if (!model_.flood()) {
        // A recorder that does not keep up loses the oldest records.
        pacer_.pace(model_, &recordsOut_, backlog, Clock::now(), left);
        return;
    }
    const uint64_t len = model_.config().recLen;
    const uint64_t want = backlog < kChunk ? (kChunk - backlog) / len + 1 : 0;
    model_.produce(&recordsOut_, std::min(want, left));
}

void Driver::writeOut()
{
    if (tty_) {
        const auto state = model_.state();
        const bool handshake = state == BoardModel::State::Idle || state == BoardModel::State::Identified ||
                               state == BoardModel::State::Refused;
        if (handshake && tty_->line() != TtyLink::Line::Handshake) applyLine(TtyLink::Line::Handshake);
        if (!handshake && tty_->line() != TtyLink::Line::Acquisition && handshakeOut_.empty()) {
            tty_->drain();  // the checksum goes out at the handshake rate
            applyLine(TtyLink::Line::Acquisition);
        }
    }
    const int fd = linkFd();
    while (!handshakeOut_.empty()) {
        const ssize_t n = write(fd, handshakeOut_.data(), handshakeOut_.size());
        if (n <= 0) return;
        handshakeOut_.erase(handshakeOut_.begin(), handshakeOut_.begin() + n);
    }
    while (recordsWritten_ < recordsOut_.size()) {
        const std::size_t len = std::min(recordsOut_.size() - recordsWritten_, kChunk);
        const ssize_t n = write(fd, recordsOut_.data() + recordsWritten_, len);
        if (n <= 0) return;
        if (dump_.f) std::fwrite(recordsOut_.data() + recordsWritten_, 1, std::size_t(n), dump_.f);
        recordsWritten_ += std::size_t(n);
    }
    recordsOut_.clear();
    recordsWritten_ = 0;
}

void Driver::readLink()
{
    if (tty_) return readDevice();
    std::vector<uint8_t> data;
    for (;;) {
        switch (pty_->readPacket(&data)) {
        case PtyLink::Packet::None: return;
        case PtyLink::Packet::Data: received(data.data(), data.size()); break;
        case PtyLink::Packet::Flush: flushSeen(); break;
        case PtyLink::Packet::Other: break;
        }
    }
}

void Driver::readDevice()
{
    std::vector<LineInput> inputs;
    while (tty_->read(&inputs)) {
        // Data goes to the model in one piece up to the next break.
        std::vector<uint8_t> data;
        for (const LineInput& in : inputs) {
            switch (in.kind) {
            case LineInput::Kind::Data: data.insert(data.end(), in.bytes.begin(), in.bytes.end()); break;
            case LineInput::Kind::Break:
                received(data.data(), data.size());
                data.clear();
                lineBreak();
                break;
            case LineInput::Kind::BadByte: model_.note("rx parity or framing error on a byte"); break;
            }
        }
        received(data.data(), data.size());
        inputs.clear();
    }
}

void Driver::lineBreak()
{
    const auto now = Clock::now();
    if (now - lastBreak_ > kBreakDebounce) {
        // The board resets: what it had not sent yet (records in the port's
        // output queue) never goes out.
        tty_->discardOutput();
        model_.takeOutput();
        handshakeOut_.clear();
        model_.lineBreak();
    }
    lastBreak_ = now;
}

void Driver::standIn(const char* what, Clock::time_point at)
{
    switch (model_.breakStandIn(what)) {
    case BoardModel::StandIn::Restarted:
        breakAt_ = at;
        heldUntil_.reset();
        break;
    case BoardModel::StandIn::Held:
        // A second flush while held (TCSAFLUSH, then a flush) keeps the first time.
        if (!heldUntil_) {
            breakAt_ = at;
            heldUntil_ = at + kStartByteWait;
            heldBy_ = what;
        }
        break;
    case BoardModel::StandIn::Ignored: break;
    }
}

// What the board wrote since the recorder's flush and the recorder has not
// read: bytes that went out before the board learned of the break it stands
// for (records, or noise of an earlier close), and board output not yet
// written. A board that reacted at the break would not have sent them.
void Driver::withdrawUnread()
{
    model_.takeOutput();
    handshakeOut_.clear();
    pty_->withdrawUnread();
}

void Driver::flushSeen()
{
    const auto now = Clock::now();
    // The open that comes before this flush is counted first: a new recorder's
    // flush must find the board back from the previous run.
    readInotify();
    openTimer_.reset();
    withdrawUnread();
    if (model_.state() == BoardModel::State::Identified && now - breakAt_ < kResendWindow)
        model_.resendIdent("flush");
    else
        standIn("flush", now);
}

void Driver::accessSeen(PtyLink::Access access)
{
    if (access == PtyLink::Access::LastClose) return linkClosed();
    if (access == PtyLink::Access::FirstOpen) {
        // The link was closed: this open may start a handshake.
        openedAt_ = Clock::now();
        openTimer_ = openedAt_ + kOpenGrace;
    }
    model_.linkOpened();
    closedSince_.reset();
}

void Driver::readInotify()
{
    if (pty_ && pty_->takeAccess([this](PtyLink::Access a) { accessSeen(a); }))
        model_.note("exclusive use left by a closed recorder cleared");
}

void Driver::linkClosed()
{
    const auto before = model_.state();
    model_.linkClosed();
    openTimer_.reset();
    heldUntil_.reset();
    if (model_.state() == BoardModel::State::Idle) {
        recordsOut_.clear();
        recordsWritten_ = 0;
        wasStreaming_ = false;
        if (dump_.f) std::fflush(dump_.f);
        if (options_.once && before != BoardModel::State::Idle) done_ = true;
    } else {
        closedSince_ = Clock::now();
    }
}

void Driver::timers()
{
    const auto now = Clock::now();
    if (openTimer_ && now >= *openTimer_) {
        openTimer_.reset();
        if (pty_ && pty_->openers() > 0) standIn("open", openedAt_);
    }
    if (heldUntil_ && now >= *heldUntil_) {
        heldUntil_.reset();
        if (model_.held()) model_.confirmBreak(heldBy_);
    }
    if (closedSince_ && now >= *closedSince_ + kAbandoned) {
        closedSince_.reset();
        if ((!pty_ || pty_->openers() == 0) && model_.state() == BoardModel::State::Configured) {
            model_.reset();
            if (options_.once) done_ = true;
        }
    }
}

Clock::time_point Driver::nextWake() const
{
    auto wake = Clock::now() + 1s;
    if (openTimer_) wake = std::min(wake, *openTimer_);
    if (heldUntil_) wake = std::min(wake, *heldUntil_);
    if (closedSince_) wake = std::min(wake, *closedSince_ + kAbandoned);
    if (model_.streaming() && !model_.flood() && !recordsDone() && model_.period().count() > 0)
        wake = std::min(wake, pacer_.nextDue(model_.period(), model_.recordNumber()));
    return wake;
}

// Before the board ends the line: a hang-up takes the bytes still waiting in
// the slave with it, so give the recorder time to read the last records.
void Driver::awaitReader()
{
    if (!pty_) return;
    const auto limit = Clock::now() + 2s;
    std::this_thread::sleep_for(20ms);  // written bytes reach the slave's queue asynchronously
    while (Clock::now() < limit) {
        readInotify();
        if (pty_->openers() == 0 || pty_->unread() == 0) return;
        std::this_thread::sleep_for(5ms);
    }
}

void Driver::drainLog()
{
    auto lines = model_.takeLog();
    if (!log_.f || lines.empty()) return;
    for (const auto& l : lines) std::fprintf(log_.f, "%s\n", l.c_str());
    std::fflush(log_.f);
}

int Driver::run()
{
    if (!openFiles()) return 1;
    if (options_.device.empty()) {
        pty_ = std::make_unique<PtyLink>();
        if (!pty_->open(options_.link)) return 1;
    } else if (!openDevice()) {
        return 1;
    }

    // The noise goes out before anyone can open the line.
    pump();
    writeOut();
    if (pty_) {
        std::printf("%s\n", pty_->slavePath().c_str());
        std::fflush(stdout);
    }

    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    const int watchFd = pty_ ? pty_->watchFd() : -1;
    while (!gStop && !done_) {
        timers();
        pump();
        writeOut();
        drainLog();
        if (dump_.f) std::fflush(dump_.f);

        if (model_.state() == BoardModel::State::HungUp && allWritten()) {
            awaitReader();
            model_.note("hung up");
            if (pty_) pty_->hangUp();
            if (tty_) tty_->close();
            break;
        }
        if (options_.exitWhenDone && recordsDone() && recordsWritten_ == recordsOut_.size()) {
            awaitReader();
            break;
        }
        if (done_) break;

        pollfd fds[2] = {{linkFd(), POLLIN, 0}, {watchFd, POLLIN, 0}};
        // Flood mode always has more to send: wake as soon as the line takes it.
        const bool more = model_.streaming() && model_.flood() && !recordsDone();
        if (!allWritten() || more) fds[0].events |= POLLOUT;
        const auto wait = std::max(Clock::duration::zero(), nextWake() - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
        const int r = ppoll(fds, watchFd >= 0 ? 2 : 1, &ts, &waitMask);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "tarvo-board: poll: %s\n", std::strerror(errno));
            exitStatus_ = 1;
            break;
        }
        // Opens and closes first: a new recorder's flush must find the board
        // already back from the previous run.
        if (watchFd >= 0 && (fds[1].revents & POLLIN)) readInotify();
        if (fds[0].revents & POLLIN) readLink();
        if (tty_ && (fds[0].revents & (POLLHUP | POLLERR))) {
            std::fprintf(stderr, "tarvo-board: %s went away\n", options_.device.c_str());
            exitStatus_ = 1;
            break;
        }
    }
    drainLog();
    return exitStatus_;
}

}  // namespace

int runBoard(const DriverOptions& options)
{
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    Driver d(options);
    return d.run();
}

bool supportedRate(long baud) { return rt::standardSpeed(baud) != B0; }

}  // namespace tarvo::board
