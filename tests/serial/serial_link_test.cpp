// Bytes and link settings over a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "../support/link_cases.h"

namespace {

// Settings a previous program might have left on the device: canonical mode,
// echo, XON/XOFF, CR/NL translation, output processing.
void leaveCooked(int master)
{
    termios t{};
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    t.c_iflag |= ICRNL | IXON | IXOFF | ISTRIP | INLCR;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &t), 0);
}

// Writes from another thread without hanging the test when the reader has
// given up: waits for room in short steps and stops when told or after 20 s.
void writeUntil(int master, const std::vector<uint8_t>& bytes, const std::atomic<bool>& stop)
{
    const int flags = ::fcntl(master, F_GETFL);
    ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::size_t done = 0;
    while (done < bytes.size() && !stop && std::chrono::steady_clock::now() < end) {
        const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    ::fcntl(master, F_SETFL, flags);
}

}  // namespace

// The master side of a pseudo-terminal, held here.
struct PtyMaster {
    static constexpr long kStreamBaud = 250000;
    static constexpr std::size_t kStreamBytes = 300'000;
    static void leaveCooked(PtyPair& pty) { ::leaveCooked(pty.master()); }
    static void send(PtyPair& pty, const std::vector<uint8_t>& bytes, const std::atomic<bool>& stop)
    {
        writeUntil(pty.master(), bytes, stop);
    }
};

namespace link_cases {
INSTANTIATE_TYPED_TEST_SUITE_P(PtyPort, Link, PtyMaster);
}  // namespace link_cases

TEST_F(PtyPort, StandardAndNonStandardBaudRatesReachTheDevice)
{
    // 250000 first, so the standard rates after it prove that a custom rate
    // left on the device does not stick.
    for (long baud : {250000L, 19200L, 115200L, 250000L, 19200L}) {
        ASSERT_EQ(open(baud), 0) << baud << ": " << tarvo::rt::lastComError(kPort);
        EXPECT_EQ(slaveBaud(pty.master()), baud);
        if (baud != 250000) {
            termios t{};
            ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);
            EXPECT_EQ(::cfgetospeed(&t), baud == 19200 ? B19200 : B115200);
            EXPECT_EQ(::cfgetispeed(&t), baud == 19200 ? B19200 : B115200);
        }
        ASSERT_EQ(CloseCom(kPort), 0);
    }
}

TEST_F(PtyPort, EvenAndOddParityOpenOnAPseudoTerminalAndTheLineIsRaw)
{
    // The kernel drops PARENB on a pty; the open must not fail for that.
    for (int parity : {2, 1}) {
        ASSERT_EQ(open(115200, parity), 0) << tarvo::rt::lastComError(kPort);
        termios t{};
        ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS | HUPCL), 0u);

        ASSERT_EQ(ComWrtByte(kPort, 0x00), 1);  // the start byte
        EXPECT_EQ(pty.read(1, 5.0), std::vector<uint8_t>{0x00});
        ASSERT_EQ(CloseCom(kPort), 0);
    }
}
