// tarvo-board's driver: the board model on its link to the recorder, a
// pseudo-terminal (default: pty_link.h, with pty_recorder.h for what the
// recorder's flushes and opens there stand for) or a real serial port
// (tty_link.h), where the break arrives as a parity mark and the line
// switches between the handshake rate 8N1 and the acquisition rate with even
// parity. It feeds the model what the recorder sends and writes what the
// model has to send (link_output.h) until it is stopped.
#include "board_driver_posix.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "link_output.h"
#include "pty_link.h"
#include "pty_recorder.h"
#include "serial_speed.h"
#include "tty_link.h"

namespace tarvo::board {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kBreakDebounce = 200ms;  // one long break may arrive as several marks

volatile sig_atomic_t gStop = 0;
extern "C" void onStopSignal(int) { gStop = 1; }

// The log or the dump: stderr, or a file of the driver's own.
struct OutputFile {
    FILE* f = nullptr;
    bool owned = false;
    ~OutputFile()
    {
        if (f && owned)
            std::fclose(f);
    }
    bool open(const std::string& path, const char* mode)
    {
        f = std::fopen(path.c_str(), mode);
        owned = true;
        if (!f)
            std::fprintf(stderr, "tarvo-board: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
        return f != nullptr;
    }
};

class Driver {
public:
    explicit Driver(const DriverOptions& options)
        : options_(options), model_(options.faults), output_(model_, options.records)
    {
    }
    ~Driver();
    int run();

private:
    bool openFiles();
    bool openPty();
    bool openDevice();
    bool applyLine(TtyLink::Line line);
    void writeOut();
    void readLink();
    void readDevice();
    void lineBreak();
    void drainLog();
    Clock::time_point nextWake() const;
    void received(const uint8_t* bytes, std::size_t n);
    int linkFd() const { return pty_ ? pty_->fd() : tty_->fd(); }
    bool runOver() const { return recorder_ && recorder_->runOver(); }

    const DriverOptions& options_;
    BoardModel model_;
    LinkOutput output_;
    OutputFile log_, dump_;
    // One of the two links; on a pty, what the recorder does there.
    std::unique_ptr<PtyLink> pty_;
    std::unique_ptr<PtyRecorder> recorder_;
    std::unique_ptr<TtyLink> tty_;
    int exitStatus_ = 0;
    Clock::time_point lastBreak_{};
};

Driver::~Driver()
{
    drainLog();
    if (dump_.f)
        std::fflush(dump_.f);
}

bool Driver::openFiles()
{
    if (options_.logFile == "-")
        log_.f = stderr;
    else if (!options_.logFile.empty() && !log_.open(options_.logFile, "w"))
        return false;
    return options_.dumpFile.empty() || dump_.open(options_.dumpFile, "wb");
}

bool Driver::openPty()
{
    pty_ = std::make_unique<PtyLink>();
    if (!pty_->open(options_.link))
        return false;
    recorder_ = std::make_unique<PtyRecorder>(*pty_, model_, output_, dump_.f, options_.once);
    return true;
}

bool Driver::openDevice()
{
    tty_ = std::make_unique<TtyLink>();
    if (!tty_->open(options_.device))
        return false;
    if (!applyLine(TtyLink::Line::Handshake)) {
        std::fprintf(stderr, "tarvo-board: %s refuses %ld 8N1: %s\n", options_.device.c_str(),
                     options_.baud, std::strerror(errno));
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
    if (!tty_->apply(line, baud))
        return false;
    model_.note(std::string("line ") + std::to_string(baud) +
                (line == TtyLink::Line::Acquisition ? " 8E1" : " 8N1"));
    return true;
}

void Driver::received(const uint8_t* bytes, std::size_t n)
{
    if (n == 0)
        return;
    model_.receive(bytes, n);
    if (recorder_)
        recorder_->dataReceived();
    output_.received();
}

void Driver::writeOut()
{
    if (tty_) {
        const auto state = model_.state();
        const bool handshake = state == BoardModel::State::Idle ||
                               state == BoardModel::State::Identified ||
                               state == BoardModel::State::Refused;
        if (handshake && tty_->line() != TtyLink::Line::Handshake)
            applyLine(TtyLink::Line::Handshake);
        if (!handshake && tty_->line() != TtyLink::Line::Acquisition &&
            output_.handshakeWritten()) {
            tty_->drain();  // the checksum goes out at the handshake rate
            applyLine(TtyLink::Line::Acquisition);
        }
    }
    output_.write(linkFd(), dump_.f);
}

void Driver::readLink()
{
    if (tty_)
        return readDevice();
    std::vector<uint8_t> data;
    for (;;) {
        switch (pty_->readPacket(&data)) {
        case PtyLink::Packet::None: return;
        case PtyLink::Packet::Data: received(data.data(), data.size()); break;
        case PtyLink::Packet::Flush: recorder_->flushSeen(); break;
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
            case LineInput::Kind::Data:
                data.insert(data.end(), in.bytes.begin(), in.bytes.end());
                break;
            case LineInput::Kind::Break:
                received(data.data(), data.size());
                data.clear();
                lineBreak();
                break;
            case LineInput::Kind::BadByte:
                model_.note("rx parity or framing error on a byte");
                break;
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
        output_.dropHandshake();
        model_.lineBreak();
    }
    lastBreak_ = now;
}

Clock::time_point Driver::nextWake() const
{
    auto wake = Clock::now() + 1s;
    if (recorder_)
        wake = recorder_->nextWake(wake);
    if (const auto due = output_.nextDue())
        wake = std::min(wake, *due);
    return wake;
}

void Driver::drainLog()
{
    auto lines = model_.takeLog();
    if (!log_.f || lines.empty())
        return;
    for (const auto& l : lines)
        std::fprintf(log_.f, "%s\n", l.c_str());
    std::fflush(log_.f);
}

int Driver::run()
{
    if (!openFiles())
        return 1;
    if (!(options_.device.empty() ? openPty() : openDevice()))
        return 1;

    // The noise goes out before anyone can open the line.
    output_.take();
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
    while (!gStop && !runOver()) {
        if (recorder_)
            recorder_->timers();
        output_.take();
        writeOut();
        drainLog();
        if (dump_.f)
            std::fflush(dump_.f);

        if (model_.state() == BoardModel::State::HungUp && output_.allWritten()) {
            if (recorder_)
                recorder_->awaitReader();
            model_.note("hung up");
            if (pty_)
                pty_->hangUp();
            if (tty_)
                tty_->close();
            break;
        }
        if (options_.exitWhenDone && output_.recordsDone() && output_.recordsWritten()) {
            if (recorder_)
                recorder_->awaitReader();
            break;
        }
        if (runOver())
            break;

        pollfd fds[2] = {{linkFd(), POLLIN, 0}, {watchFd, POLLIN, 0}};
        // Flood mode always has more to send: wake as soon as the line takes it.
        if (!output_.allWritten() || output_.moreToFlood())
            fds[0].events |= POLLOUT;
        const auto wait = std::max(Clock::duration::zero(), nextWake() - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
        const int r = ppoll(fds, watchFd >= 0 ? 2 : 1, &ts, &waitMask);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tarvo-board: poll: %s\n", std::strerror(errno));
            exitStatus_ = 1;
            break;
        }
        // Opens and closes first: a new recorder's flush must find the board
        // already back from the previous run.
        if (watchFd >= 0 && (fds[1].revents & POLLIN))
            recorder_->readAccess();
        if (fds[0].revents & POLLIN)
            readLink();
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
