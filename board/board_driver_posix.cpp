// tarvo-board's link: a pseudo-terminal (default) or a real serial port.
//
// A pty carries no line break, so on a pty the recorder's input flush (seen
// through packet mode as TIOCPKT_FLUSHREAD) or its opening of the slave (seen
// through inotify) stands in for the break; the model decides what each one
// means in its state. After a finished handshake the recorder's next flush is
// either that of its reopening at the acquisition rate, which the start byte
// follows at once, or that of a new handshake (a Start pressed again after a
// run that never began): the board waits kStartByteWait for the start byte
// and otherwise restarts, still well before the recorder reads. The board
// keeps a slave descriptor of its own open for its whole life: the master then
// never polls POLLHUP when the recorder closes, the termios settings stay, and
// bytes written while the recorder is away (noise) wait for the next opener.
// Opens and closes by the recorder are counted from inotify events.
//
// The recorder takes the slave for itself (TIOCEXCL). The board clears that
// only when it has seen the last opener close, so that a recorder killed
// while holding the port does not lock out the next one; never while anyone
// has the slave open.
//
// On a real port the break arrives as \377 \0 \0 (PARMRK, breaks neither
// ignored nor turned into signals), and the link switches between 19200 8N1
// for the handshake and the acquisition rate with even parity.
#include "board_driver_posix.h"
#include "record_pacer.h"
#include "serial_speed.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

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

// A file that belongs to the driver: the log or the dump.
struct File {
    FILE* f = nullptr;
    bool owned = false;
    ~File()
    {
        if (f && owned) std::fclose(f);
    }
};

class Driver {
public:
    explicit Driver(const DriverOptions& o) : o_(o), model_(o.faults) {}
    ~Driver();
    int run();

private:
    enum class Line { Handshake, Acquisition };

    bool openFiles();
    bool openPty();
    bool openDevice();
    bool applyLine(Line line);
    void pump();
    void writeOut();
    void readLink();
    void readInotify();
    bool takeInotifyEvents();
    void releaseStaleExclusive();
    void flushSeen();
    void withdrawUnread();
    void standIn(const char* what, Clock::time_point at);
    void linkClosed();
    void timers();
    void drainLog();
    void awaitReader();
    bool recordsDone() const { return o_.records && model_.recordNumber() >= o_.records; }
    Clock::time_point nextWake() const;
    void received(const uint8_t* bytes, std::size_t n);

    const DriverOptions& o_;
    BoardModel model_;
    int fd_ = -1;       // pty master or device
    int slaveFd_ = -1;  // the board's own hold on the slave
    int inotifyFd_ = -1;
    std::string slavePath_;
    bool linkMade_ = false;
    bool device_ = false;
    Line line_ = Line::Handshake;
    File log_, dump_;

    std::vector<uint8_t> hs_;   // handshake bytes not yet written
    std::vector<uint8_t> rec_;  // record bytes not yet written, from recOff_
    std::size_t recOff_ = 0;
    RecordPacer pacer_{kMaxBacklog};
    bool wasStreaming_ = false;
    bool doneNoted_ = false;
    bool done_ = false;
    int exitStatus_ = 0;

    int opens_ = 0;           // the recorder's descriptors on the slave, from inotify
    uint64_t opensSeen_ = 0;  // open events so far
    Clock::time_point openedAt_{};
    std::optional<Clock::time_point> openTimer_, closedSince_, heldUntil_;
    Clock::time_point breakAt_{};  // the flush or open that last stood in for a break
    const char* heldBy_ = "flush";  // what the held stand-in was
    unsigned markState_ = 0;  // PARMRK parser: 0 plain, 1 after \377, 2 after \377 \0
    Clock::time_point lastBreak_{};
};

Driver::~Driver()
{
    drainLog();
    if (dump_.f) std::fflush(dump_.f);
    if (inotifyFd_ >= 0) close(inotifyFd_);
    if (slaveFd_ >= 0) close(slaveFd_);
    if (fd_ >= 0) close(fd_);
    if (linkMade_) {
        // Only our own link: another board may have taken the name since.
        char target[PATH_MAX];
        const ssize_t n = readlink(o_.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, std::size_t(n)) == slavePath_) unlink(o_.link.c_str());
    }
}

bool Driver::openFiles()
{
    if (o_.logFile == "-") {
        log_.f = stderr;
    } else if (!o_.logFile.empty()) {
        log_.f = std::fopen(o_.logFile.c_str(), "w");
        log_.owned = true;
        if (!log_.f) {
            std::fprintf(stderr, "tarvo-board: cannot write %s: %s\n", o_.logFile.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    if (!o_.dumpFile.empty()) {
        dump_.f = std::fopen(o_.dumpFile.c_str(), "wb");
        dump_.owned = true;
        if (!dump_.f) {
            std::fprintf(stderr, "tarvo-board: cannot write %s: %s\n", o_.dumpFile.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    return true;
}

bool Driver::openPty()
{
#ifndef __linux__
    std::fprintf(stderr, "tarvo-board: the pseudo-terminal board needs Linux (inotify); use --device\n");
    return false;
#else
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        std::fprintf(stderr, "tarvo-board: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    const char* name = ptsname(fd_);
    if (!name) {
        std::fprintf(stderr, "tarvo-board: no slave for the pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    slavePath_ = name;
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slaveFd_ < 0) {
        std::fprintf(stderr, "tarvo-board: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    // Records are binary: no echo, no translation, no flow control. A recorder
    // sets its own mode too; this is what a plain opener finds.
    termios t{};
    tcgetattr(slaveFd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(slaveFd_, TCSANOW, &t);
    int one = 1;
    if (ioctl(fd_, TIOCPKT, &one) != 0) {
        std::fprintf(stderr, "tarvo-board: packet mode refused: %s\n", std::strerror(errno));
        return false;
    }
    // Watch only after our own open, so every event is the recorder's.
    inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd_ < 0 || inotify_add_watch(inotifyFd_, name, IN_OPEN | IN_CLOSE) < 0) {
        std::fprintf(stderr, "tarvo-board: cannot watch %s: %s\n", name, std::strerror(errno));
        return false;
    }
    // Status bytes from the mode changes above are no flushes of the recorder.
    uint8_t junk[64];
    while (read(fd_, junk, sizeof junk) > 0) {
    }
    if (!o_.link.empty()) {
        unlink(o_.link.c_str());  // a stale link from a board that was killed
        if (symlink(name, o_.link.c_str()) != 0) {
            std::fprintf(stderr, "tarvo-board: cannot link %s: %s\n", o_.link.c_str(),
                         std::strerror(errno));
            return false;
        }
        linkMade_ = true;
    }
    return true;
#endif
}

bool Driver::openDevice()
{
    device_ = true;
    fd_ = open(o_.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        std::fprintf(stderr, "tarvo-board: cannot open %s: %s\n", o_.device.c_str(), std::strerror(errno));
        return false;
    }
    if (!applyLine(Line::Handshake)) {
        std::fprintf(stderr, "tarvo-board: %s refuses %ld 8N1: %s\n", o_.device.c_str(), o_.baud,
                     std::strerror(errno));
        return false;
    }
    tcflush(fd_, TCIOFLUSH);
    return true;
}

bool Driver::applyLine(Line line)
{
    long baud = o_.baud;
    if (line == Line::Acquisition) {
        const long cls = model_.config().baud;
        baud = cls ? cls : o_.otherBaud;
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    // Breaks come in as \377 \0 \0; a real \377 is doubled, so it stays data.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | ISTRIP | IXON | IXOFF | IXANY);
    t.c_iflag |= PARMRK;
    t.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (line == Line::Acquisition) {
        t.c_cflag |= PARENB;  // even parity
        t.c_iflag |= INPCK;
    } else {
        t.c_iflag &= ~tcflag_t(INPCK);
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, rt::standardSpeed(baud));
    cfsetospeed(&t, rt::standardSpeed(baud));
    // tcsetattr fails when any setting was not taken (a pty drops PARENB and
    // says EINVAL): the rate read back decides.
    tcsetattr(fd_, TCSANOW, &t);
    termios got{};
    if (tcgetattr(fd_, &got) != 0 || cfgetospeed(&got) != rt::standardSpeed(baud)) return false;
    line_ = line;
    model_.note(std::string("line ") + std::to_string(baud) +
                (line == Line::Acquisition ? " 8E1" : " 8N1"));
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
    hs_.insert(hs_.end(), out.begin(), out.end());

    if (model_.state() == BoardModel::State::Idle || model_.state() == BoardModel::State::Identified) {
        // A new handshake: whatever records had not gone out never will.
        rec_.clear();
        recOff_ = 0;
        wasStreaming_ = false;
    }
    if (!model_.streaming() || recordsDone()) {
        if (recordsDone() && !doneNoted_) {
            model_.note("done after record " + std::to_string(model_.recordNumber()));
            doneNoted_ = true;
        }
        return;
    }
    const std::size_t backlog = rec_.size() - recOff_;
    if (recOff_ > 0 && recOff_ == rec_.size()) {
        rec_.clear();
        recOff_ = 0;
    }
    const uint64_t left = o_.records ? o_.records - model_.recordNumber() : UINT64_MAX;
    if (!model_.flood()) {
        // A recorder that does not keep up loses the oldest records.
        pacer_.pace(model_, &rec_, backlog, Clock::now(), left);
        return;
    }
    const uint64_t len = model_.config().recLen;
    const uint64_t want = backlog < kChunk ? (kChunk - backlog) / len + 1 : 0;
    model_.produce(&rec_, std::min(want, left));
}

void Driver::writeOut()
{
    if (device_) {
        const Line want = (model_.state() == BoardModel::State::Idle ||
                           model_.state() == BoardModel::State::Identified ||
                           model_.state() == BoardModel::State::Refused)
                              ? Line::Handshake
                              : Line::Acquisition;
        if (want == Line::Handshake && line_ != Line::Handshake) applyLine(Line::Handshake);
        if (want == Line::Acquisition && line_ != Line::Acquisition && hs_.empty()) {
            tcdrain(fd_);  // the checksum goes out at the handshake rate
            applyLine(Line::Acquisition);
        }
    }
    while (!hs_.empty()) {
        const ssize_t n = write(fd_, hs_.data(), hs_.size());
        if (n <= 0) return;
        hs_.erase(hs_.begin(), hs_.begin() + n);
    }
    while (recOff_ < rec_.size()) {
        const std::size_t len = std::min(rec_.size() - recOff_, kChunk);
        const ssize_t n = write(fd_, rec_.data() + recOff_, len);
        if (n <= 0) return;
        if (dump_.f) std::fwrite(rec_.data() + recOff_, 1, std::size_t(n), dump_.f);
        recOff_ += std::size_t(n);
    }
    rec_.clear();
    recOff_ = 0;
}

void Driver::readLink()
{
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) return;
        if (!device_) {
            // Packet mode: a leading 0 marks data, anything else is a status byte.
            if (buf[0] == TIOCPKT_DATA)
                received(buf + 1, std::size_t(n - 1));
            else if (buf[0] & TIOCPKT_FLUSHREAD)
                flushSeen();
            continue;
        }
        std::vector<uint8_t> data;
        for (ssize_t i = 0; i < n; ++i) {
            const uint8_t b = buf[i];
            switch (markState_) {
            case 0:
                if (b == 0xFF)
                    markState_ = 1;
                else
                    data.push_back(b);
                break;
            case 1:
                markState_ = b == 0x00 ? 2 : 0;
                if (b != 0x00) data.push_back(b);  // \377 \377: a real 0xFF
                break;
            case 2:
                markState_ = 0;
                if (b == 0x00) {
                    received(data.data(), data.size());
                    data.clear();
                    const auto now = Clock::now();
                    if (now - lastBreak_ > kBreakDebounce) {
                        // The board resets: what it had not sent yet (records
                        // in the port's output queue) never goes out.
                        tcflush(fd_, TCOFLUSH);
                        model_.takeOutput();
                        hs_.clear();
                        model_.lineBreak();
                    }
                    lastBreak_ = now;
                } else {
                    model_.note("rx parity or framing error on a byte");
                }
                break;
            }
        }
        received(data.data(), data.size());
    }
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
// Reading them through the board's own slave descriptor takes them out of the
// recorder's queue (a flush on the master does not reach it).
void Driver::withdrawUnread()
{
    model_.takeOutput();
    hs_.clear();
    if (slaveFd_ < 0) return;
    uint8_t junk[4096];
    while (read(slaveFd_, junk, sizeof junk) > 0) {
    }
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

// Reads the open and close events waiting; returns whether the last opener
// closed in them.
bool Driver::takeInotifyEvents()
{
    bool lastClosed = false;
#ifdef __linux__
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(inotifyFd_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            off += ssize_t(sizeof(inotify_event) + e->len);
            if (e->mask & IN_OPEN) {
                ++opensSeen_;
                if (opens_++ == 0) {
                    // The link was closed: this open may start a handshake.
                    openedAt_ = Clock::now();
                    openTimer_ = openedAt_ + kOpenGrace;
                }
                model_.linkOpened();
                closedSince_.reset();
            }
            if (e->mask & IN_CLOSE) {
                if (opens_ > 0 && --opens_ == 0) {
                    linkClosed();
                    lastClosed = true;
                }
            }
        }
    }
#endif
    return lastClosed;
}

void Driver::readInotify()
{
    if (inotifyFd_ < 0) return;
    if (takeInotifyEvents() && opens_ == 0) releaseStaleExclusive();
}

// The recorder sets TIOCEXCL and clears it when it closes the port; one that
// was killed leaves it set, and with the board's own descriptor the slave
// stays open, so the next recorder would be refused. Called when the last
// opener has closed: nobody else has the slave open now. One may open it
// while this runs: its open event is queued before it can set TIOCEXCL, so an
// open seen after the clear gives the exclusive use back.
void Driver::releaseStaleExclusive()
{
    if (slaveFd_ < 0) return;
    for (int round = 0; round < 100 && opens_ == 0; ++round) {
#ifdef TIOCGEXCL
        int exclusive = 0;
        if (ioctl(slaveFd_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
#endif
        const uint64_t seen = opensSeen_;
        ioctl(slaveFd_, TIOCNXCL);
        takeInotifyEvents();
        if (opensSeen_ == seen) {
            model_.note("exclusive use left by a closed recorder cleared");
            return;
        }
        ioctl(slaveFd_, TIOCEXCL);
        // Opened and closed again already: the exclusive use is stale once more.
    }
}

void Driver::linkClosed()
{
    const auto before = model_.state();
    model_.linkClosed();
    openTimer_.reset();
    heldUntil_.reset();
    if (model_.state() == BoardModel::State::Idle) {
        rec_.clear();
        recOff_ = 0;
        wasStreaming_ = false;
        if (dump_.f) std::fflush(dump_.f);
        if (o_.once && before != BoardModel::State::Idle) done_ = true;
    } else {
        closedSince_ = Clock::now();
    }
}

void Driver::timers()
{
    const auto now = Clock::now();
    if (openTimer_ && now >= *openTimer_) {
        openTimer_.reset();
        if (opens_ > 0) standIn("open", openedAt_);
    }
    if (heldUntil_ && now >= *heldUntil_) {
        heldUntil_.reset();
        if (model_.held()) model_.confirmBreak(heldBy_);
    }
    if (closedSince_ && now >= *closedSince_ + kAbandoned) {
        closedSince_.reset();
        if (opens_ == 0 && model_.state() == BoardModel::State::Configured) {
            model_.reset();
            if (o_.once) done_ = true;
        }
    }
}

Clock::time_point Driver::nextWake() const
{
    auto wake = Clock::now() + 1s;
    if (openTimer_) wake = std::min(wake, *openTimer_);
    if (heldUntil_) wake = std::min(wake, *heldUntil_);
    if (closedSince_) wake = std::min(wake, *closedSince_ + kAbandoned);
    if (model_.streaming() && !model_.flood() && !recordsDone() && model_.period().count() > 0) {
        wake = std::min(wake, pacer_.nextDue(model_.period(), model_.recordNumber()));
    }
    return wake;
}

// Before the board ends the line: a hang-up takes the bytes still waiting in
// the slave with it, so give the recorder time to read the last records.
void Driver::awaitReader()
{
    if (device_ || slaveFd_ < 0) return;
    const auto limit = Clock::now() + 2s;
    std::this_thread::sleep_for(20ms);  // written bytes reach the slave's queue asynchronously
    while (Clock::now() < limit) {
        readInotify();
        int waiting = 0;
        if (opens_ == 0 || ioctl(slaveFd_, TIOCINQ, &waiting) != 0 || waiting == 0) return;
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
    if (!(o_.device.empty() ? openPty() : openDevice())) return 1;

    // The noise goes out before anyone can open the line.
    pump();
    writeOut();
    if (!device_) {
        std::printf("%s\n", slavePath_.c_str());
        std::fflush(stdout);
    }

    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    while (!gStop && !done_) {
        timers();
        pump();
        writeOut();
        drainLog();
        if (dump_.f) std::fflush(dump_.f);

        if (model_.state() == BoardModel::State::HungUp && hs_.empty() && recOff_ == rec_.size()) {
            // Closing the master hangs up every opener of the slave.
            awaitReader();
            model_.note("hung up");
            if (slaveFd_ >= 0) close(slaveFd_);
            close(fd_);
            slaveFd_ = fd_ = -1;
            break;
        }
        if (o_.exitWhenDone && recordsDone() && recOff_ == rec_.size()) {
            awaitReader();
            break;
        }
        if (done_) break;

        pollfd fds[2] = {{fd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
        // Flood mode always has more to send: wake as soon as the line takes it.
        const bool more = model_.streaming() && model_.flood() && !recordsDone();
        if (!hs_.empty() || recOff_ < rec_.size() || more) fds[0].events |= POLLOUT;
        const auto wait = std::max(Clock::duration::zero(), nextWake() - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
        const int r = ppoll(fds, inotifyFd_ >= 0 ? 2 : 1, &ts, &waitMask);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "tarvo-board: poll: %s\n", std::strerror(errno));
            exitStatus_ = 1;
            break;
        }
        // Opens and closes first: a new recorder's flush must find the board
        // already back from the previous run.
        if (inotifyFd_ >= 0 && (fds[1].revents & POLLIN)) readInotify();
        if (fds[0].revents & POLLIN) readLink();
        if (device_ && (fds[0].revents & (POLLHUP | POLLERR))) {
            std::fprintf(stderr, "tarvo-board: %s went away\n", o_.device.c_str());
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
