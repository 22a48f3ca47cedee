// tarvo-board as a process on a pseudo-terminal, driven the way the recorder
// drives a serial port: open, flush, (break), read, write, close, reopen.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board_model.h"
#include "board_streams.h"
#include "../support/pty.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using tarvo::board::test::recordBytes;
using tarvo::board::test::streamingBoard;

namespace {

const Bytes kBlock2000 = tarvo::board::test::bytes(tarvo::board::test::k6ch2000);
// Too slow to see many records unless flooded.
const Bytes kBlock1s = tarvo::board::test::bytes(tarvo::board::test::k1ch1s);

std::string tempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() /
            ("tarvo-board-" + std::to_string(getpid()) + "-" + name))
        .string();
}

// tarvo-board started with some options; SIGTERM at the end of the test.
class BoardProcess {
public:
    explicit BoardProcess(std::vector<std::string> args)
    {
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(TARVO_BOARD_EXE)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(TARVO_BOARD_EXE, argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
    }
    ~BoardProcess()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            wait(5s);
            if (!exited_)
                kill(pid_, SIGKILL), wait(5s);
        }
        if (stdout_ >= 0)
            close(stdout_);
    }
    // The first line on stdout: the slave's path.
    std::string path()
    {
        std::string line;
        const auto end = Clock::now() + 5s;
        char c;
        while (Clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            if (read(stdout_, &c, 1) != 1 || c == '\n')
                break;
            line += c;
        }
        return line;
    }
    // Exit status, or -1 if still running after `limit`.
    int wait(std::chrono::milliseconds limit)
    {
        const auto end = Clock::now() + limit;
        while (!exited_) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                exited_ = true;
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            } else if (Clock::now() >= end) {
                return -1;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return status_;
    }
    int terminate()
    {
        kill(pid_, SIGTERM);
        return wait(5s);
    }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

// The recorder's side of the line: plain termios on the slave.
class Port {
public:
    explicit Port(const std::string& path, int tcsetattrWhen = TCSANOW)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd_, tcsetattrWhen, &t);
    }
    ~Port()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void flush() { tcflush(fd_, TCIFLUSH); }
    // The reopened recorder's start of a run: flush, start byte.
    void start()
    {
        flush();
        write({tarvo::board::kStartByte});
    }
    void write(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }
    // Up to n bytes, waiting at most `limit` for them. *ended tells whether the
    // line was hung up (end of file or EIO).
    Bytes read(std::size_t n, std::chrono::milliseconds limit, bool* ended = nullptr)
    {
        return readUntil(fd_, n, Clock::now() + limit, ended);
    }

private:
    int fd_ = -1;
};

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The recorder's handshake: flush (the break stand-in), a quarter second,
// the identification, flush, block, checksum. Returns the checksum reply.
Bytes handshake(Port& p, const Bytes& block, std::string* ident = nullptr)
{
    p.flush();
    const auto flushed = Clock::now();
    const Bytes id = p.read(14, 1s);
    if (ident)
        *ident = text(id);
    std::this_thread::sleep_until(flushed + 250ms);
    p.flush();
    p.write(block);
    return p.read(1, 1s);
}

}  // namespace

TEST(Options, HelpListsEveryOption)
{
    FILE* f = popen(TARVO_BOARD_EXE " --help", "r");
    ASSERT_NE(f, nullptr);
    std::string help;
    char buf[512];
    while (std::fgets(buf, sizeof buf, f))
        help += buf;
    EXPECT_EQ(pclose(f), 0);
    for (const char* opt : {"--link",
                            "--device",
                            "--baud",
                            "--other-baud",
                            "--log",
                            "--dump",
                            "--wrong-id",
                            "--lowercase-id",
                            "--short-id",
                            "--zero-in-id",
                            "--extra-after-id",
                            "--noise",
                            "--bad-checksum",
                            "--no-checksum",
                            "--lose-record-every",
                            "--lose-byte",
                            "--silence-after",
                            "--hangup-after",
                            "--flood",
                            "--records",
                            "--exit-when-done",
                            "--once",
                            "--help"})
        EXPECT_NE(help.find(std::string("  ") + opt + " "), std::string::npos) << opt;
}

TEST(Options, BadOptionsExitWithStatusTwoAndAOneLineReason)
{
    for (const char* args :
         {"--bogus", "--lose-record-every 0", "--lose-byte x", "--records", "--wrong-id --short-id",
          "--bad-checksum --no-checksum", "--short-id=1", "--exit-when-done", "--baud 19200"}) {
        const std::string cmd = std::string(TARVO_BOARD_EXE " ") + args + " 2>&1 >/dev/null";
        FILE* f = popen(cmd.c_str(), "r");
        ASSERT_NE(f, nullptr);
        std::string err;
        char buf[512];
        while (std::fgets(buf, sizeof buf, f))
            err += buf;
        const int st = pclose(f);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 2) << args;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << ": " << err;
    }
}

TEST(PtyBoard, HandshakeThenPacedRecordsAndTheLogTellsWhatHappened)
{
    const std::string log = tempPath("log");
    BoardProcess board({"--log", log});
    const std::string path = board.path();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    {
        Port p(path);
        ASSERT_TRUE(p.ok());
        std::string ident;
        EXPECT_EQ(handshake(p, kBlock2000, &ident), Bytes{0xEE});
        EXPECT_EQ(ident, "KLVDAQ00730019");
    }
    // Reopened at the acquisition rate: flush, start byte, records.
    Port p(path);
    p.start();
    const auto start = Clock::now();
    const Bytes got = p.read(100 * 10, 10s);
    const auto took = Clock::now() - start;
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(got, recordBytes(streamingBoard(kBlock2000), 1, 100));
    // Paced at 2000 us: the 100th record is not due before 99 periods.
    EXPECT_GE(took, 99 * 2000us);

    const std::string text = readfile(log);
    EXPECT_NE(text.find("rx block 06 0A 08 06 04 02 00 00 00 7B CE FF FF 80"), std::string::npos)
        << text;
    EXPECT_NE(text.find("tx checksum EE"), std::string::npos);
    EXPECT_NE(text.find("streaming"), std::string::npos);
    EXPECT_EQ(text.find("idle"), std::string::npos)
        << "the close and reopen before the start byte kept the board configured";
    std::remove(log.c_str());
}

TEST(PtyBoard, NoiseWaitsBeforeTheFlushAndIsGoneAfterIt)
{
    BoardProcess board({"--noise"});
    const std::string path = board.path();
    tarvo::board::Faults f;
    f.noise = true;
    const Bytes noise = tarvo::board::BoardModel(f).takeOutput();

    Port p(path);
    EXPECT_EQ(p.read(noise.size(), 2s), noise);
    p.flush();
    const Bytes after = p.read(64, 1s);
    EXPECT_EQ(text(after), "KLVDAQ00730019");
}

TEST(PtyBoard, FlushesRightAfterOpeningStillLeaveTheIdentification)
{
    // A port layer may flush when it sets the line up (TCSAFLUSH) and again
    // before the break; the identification must survive both.
    BoardProcess board({});
    const std::string path = board.path();
    Port p(path, TCSAFLUSH);
    p.flush();
    EXPECT_EQ(text(p.read(64, 1s)), "KLVDAQ00730019");
}

TEST(PtyBoard, IdentificationAndChecksumFaults)
{
    const struct {
        const char* option;
        std::string ident;
        Bytes reply;
    } cases[] = {
        {"--wrong-id", "KLVDAQ00740019", {0xEE}},
        {"--lowercase-id", "klvdaq00730019", {0xEE}},
        {"--short-id", "KLVDAQ0073", {0xEE}},
        {"--zero-in-id",
         std::string("KLVDAQ\0"
                     "0730019",
                     14),
         {0xEE}},
        {"--extra-after-id", "KLVDAQ00730019", {0xEE}},  // "\r\n" flushed before the block
        {"--bad-checksum", "KLVDAQ00730019", {0x11}},
        {"--no-checksum", "KLVDAQ00730019", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        BoardProcess board({c.option});
        Port p(board.path());
        std::string ident;
        EXPECT_EQ(handshake(p, kBlock2000, &ident), c.reply);
        EXPECT_EQ(ident, c.ident);
    }
    BoardProcess board({"--extra-after-id"});
    Port p(board.path());
    p.flush();
    EXPECT_EQ(text(p.read(64, 1s)), "KLVDAQ00730019\r\n");
}

TEST(PtyBoard, RecordsStopAtTheLimitAndTheDumpHoldsExactlyWhatWasSent)
{
    const std::string dump = tempPath("dump");
    BoardProcess board(
        {"--dump", dump, "--records", "50", "--exit-when-done", "--lose-record-every", "7"});
    const std::string path = board.path();
    Port p(path);
    ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
    p.start();
    const Bytes got = p.read(100000, 3s);
    EXPECT_EQ(board.wait(5s), 0);
    EXPECT_EQ(got.size(), 43u * 10);  // records 7, 14, ..., 49 lost
    EXPECT_EQ(readfile(dump), text(got));
    // The counter jumps where a record was lost.
    EXPECT_EQ(got[6 * 10 - 1] & 15, 6);
    EXPECT_EQ(got[7 * 10 - 1] & 15, 8);
    std::remove(dump.c_str());
}

TEST(PtyBoard, FloodModeSendsWithoutWaitingForThePeriod)
{
    BoardProcess board({"--flood"});
    Port p(board.path());
    ASSERT_EQ(handshake(p, kBlock1s), Bytes{0x99});
    p.start();
    // Paced, 20,000 records would take 20,000 s at this block's 1 s period.
    const Bytes got = p.read(20000 * 2, 10s);
    ASSERT_EQ(got.size(), 40000u);
    EXPECT_EQ(got, recordBytes(streamingBoard(kBlock1s), 1, 20000));
}

TEST(PtyBoard, HangUpEndsTheLineAndSilenceKeepsItOpenAfterNRecords)
{
    const struct {
        std::vector<std::string> options;
        std::chrono::milliseconds wait;
        std::size_t bytes;
        bool ended;
    } cases[] = {
        {{"--hangup-after", "5"}, 3s, 50, true},
        {{"--silence-after", "3"}, 500ms, 30, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options[0]);
        BoardProcess board(c.options);
        Port p(board.path());
        ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
        p.start();
        bool ended = false;
        EXPECT_EQ(p.read(1000, c.wait, &ended).size(), c.bytes);
        EXPECT_EQ(ended, c.ended);
        if (c.ended) {
            EXPECT_EQ(board.wait(5s), 0);
        }
    }
}

TEST(PtyBoard, ANewRecorderCanRunAfterThePreviousOneClosed)
{
    BoardProcess board({});
    const std::string path = board.path();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        {
            Port p(path);
            ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
        }
        Port p(path);
        p.start();
        const Bytes got = p.read(30, 2s);
        EXPECT_EQ(got, recordBytes(streamingBoard(kBlock2000), 1, 3));
    }
}

TEST(PtyBoard, OnceExitsWhenTheRecorderClosesAfterItsRun)
{
    BoardProcess board({"--once"});
    const std::string path = board.path();
    {
        Port p(path);
        ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
    }
    {
        Port p(path);
        p.start();
        EXPECT_EQ(p.read(20, 2s).size(), 20u);
    }
    EXPECT_EQ(board.wait(5s), 0);
}

TEST(PtyBoard, LinkPointsAtTheSlaveAndGoesAwayAtTheEnd)
{
    const std::string link = tempPath("link");
    BoardProcess board({"--link", link});
    const std::string path = board.path();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), path);
    {
        Port p(link);  // the recorder may open the link
        p.flush();
        EXPECT_EQ(text(p.read(14, 1s)), "KLVDAQ00730019");
    }
    EXPECT_EQ(board.terminate(), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(DeviceBoard, AMissingDeviceIsReportedWithStatusOne)
{
    BoardProcess board({"--device", "/nonexistent/tty"});
    EXPECT_EQ(board.wait(5s), 1);
}

TEST(DeviceBoard, OnATerminalDeviceA0xFFByteIsDataNotAMark)
{
    // Stand in for a serial port with the slave of a pty we hold the master of.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string log = tempPath("device-log");
    BoardProcess board({"--device", ptsname(master), "--log", log});
    std::string text;
    const auto end = Clock::now() + 5s;
    while (text.find("line 19200 8N1") == std::string::npos && Clock::now() < end) {
        std::this_thread::sleep_for(20ms);
        text = readfile(log);
    }
    ASSERT_NE(text.find("line 19200 8N1"), std::string::npos) << text;
    const uint8_t bytes[] = {0xFF, 0x41};
    ASSERT_EQ(write(master, bytes, 2), 2);
    while (text.find("rx 41") == std::string::npos && Clock::now() < end) {
        std::this_thread::sleep_for(20ms);
        text = readfile(log);
    }
    // Idle without a break, the board ignores both, but sees them as the bytes they are.
    EXPECT_NE(text.find("rx FF ignored"), std::string::npos) << text;
    EXPECT_NE(text.find("rx 41 ignored"), std::string::npos) << text;
    EXPECT_EQ(board.terminate(), 0);
    close(master);
    std::remove(log.c_str());
}

namespace {

// The handshake with the recorder's own timing: its flush stands in for the
// 500 ms break, it reads a quarter second after the break and waits up to
// 1 s for the identification, flushes, sends the block and reads the reply.
Bytes recorderHandshake(Port& p, const Bytes& block, std::string* ident)
{
    p.flush();
    std::this_thread::sleep_for(750ms);
    *ident = text(p.read(14, 1s));
    p.flush();
    p.write(block);
    return p.read(1, 1250ms);
}

// The block of 9 channels: refused.
const Bytes kBadBlock = tarvo::board::test::bytes(tarvo::board::test::k9ch);

// Waits up to 30 s for the board to log `line`.
bool logShows(const std::string& log, const std::string& line)
{
    const auto end = Clock::now() + 30s;
    while (readfile(log).find(line) == std::string::npos) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void startAndRead(Port& p, std::size_t n)
{
    p.start();
    EXPECT_EQ(p.read(n, 2s).size(), n);
}

}  // namespace

TEST(PtyBoard, AFlushStartsTheHandshakeOverWhateverTheBoardWasDoing)
{
    const struct {
        const char* name;
        // Takes the board into the state on a port the recorder keeps open,
        // or closes and opens it again into *reopened.
        void (*reach)(Port&, std::unique_ptr<Port>& reopened, const std::string& path);
        const char* log;  // what the board logged for the flush that restarted it
    } cases[] = {
        {"configured, the run never started, the port opened again",
         [](Port& p, std::unique_ptr<Port>& again, const std::string& path) {
             ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
             again = std::make_unique<Port>(path);
         },
         "flush (break stand-in, no start byte followed)"},
        {"streaming",
         [](Port& p, std::unique_ptr<Port>&, const std::string&) {
             ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
             startAndRead(p, 50);
         },
         "flush (break stand-in, was streaming)"},
        {"half a block in",
         [](Port& p, std::unique_ptr<Port>&, const std::string&) {
             p.flush();
             ASSERT_EQ(text(p.read(14, 1s)), "KLVDAQ00730019");
             std::this_thread::sleep_for(250ms);
             p.flush();
             p.write(Bytes(kBlock2000.begin(), kBlock2000.begin() + 7));
             // Flushes that come before the board looks are one flush to it.
             std::this_thread::sleep_for(250ms);
         },
         "flush (break stand-in, was identified)"},
        {"refused block",
         [](Port& p, std::unique_ptr<Port>&, const std::string&) {
             ASSERT_EQ(handshake(p, kBadBlock), Bytes{0x0E});  // the complement of F1
         },
         "flush (break stand-in, was refused)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = tempPath("break-log");
        BoardProcess board({"--log", log});
        const std::string path = board.path();
        auto first = std::make_unique<Port>(path);
        std::unique_ptr<Port> again;
        c.reach(*first, again, path);
        if (again)
            first.reset();
        Port& p = again ? *again : *first;
        std::string ident;
        // Records sent before the board saw the flush do not come first.
        EXPECT_EQ(recorderHandshake(p, kBlock2000, &ident), Bytes{0xEE});
        EXPECT_EQ(ident, "KLVDAQ00730019");
        first.reset();
        again.reset();
        // The acquisition: the stream starts again at record 1.
        Port acq(path);
        acq.start();
        EXPECT_EQ(acq.read(20, 2s), recordBytes(streamingBoard(kBlock2000), 1, 2));
        EXPECT_NE(readfile(log).find(c.log), std::string::npos) << readfile(log);
        std::remove(log.c_str());
    }
}

TEST(PtyBoard, TheRecordersExclusiveUseIsKeptWhileItHoldsThePortAndClearedOnceItIsGone)
{
    // Read through TIOCGEXCL, which tells whoever runs the test; that root may
    // open an exclusive port anyway is left to the fault suite's run as nobody.
    const std::string log = tempPath("excl-log");
    BoardProcess board({"--log", log});
    const std::string path = board.path();
    auto exclusive = [](const Port& p) {
        int on = -1;
        return ioctl(p.fd(), TIOCGEXCL, &on) == 0 ? on : -1;
    };
    {
        Port p(path);
        ASSERT_EQ(ioctl(p.fd(), TIOCEXCL), 0);
        ASSERT_EQ(handshake(p, kBlock2000), Bytes{0xEE});
        ioctl(p.fd(), TIOCNXCL);
    }  // closed, and at once opened again for the run, as the recorder does
    auto acq = std::make_unique<Port>(path);
    ASSERT_EQ(ioctl(acq->fd(), TIOCEXCL), 0);
    acq->start();
    ASSERT_EQ(acq->read(100, 2s).size(), 100u);
    // By now the board has seen the close and the open.
    EXPECT_EQ(exclusive(*acq), 1) << readfile(log);
    EXPECT_EQ(readfile(log).find("exclusive use"), std::string::npos) << readfile(log);

    // The recorder dies holding the port (closed without TIOCNXCL): the board
    // clears the exclusive use, as nobody else will.
    acq.reset();
    EXPECT_TRUE(logShows(log, "exclusive use left by a closed recorder cleared")) << readfile(log);
    Port next(path);
    EXPECT_EQ(exclusive(next), 0);
    std::remove(log.c_str());
}
