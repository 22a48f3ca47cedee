// Bytes and link settings over a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "serial_fixture.h"

namespace {

// Settings a previous program might have left on the device: canonical mode,
// echo, XON/XOFF, CR/NL translation, output processing.
void leaveCooked(int master) {
    termios t{};
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    t.c_iflag |= ICRNL | IXON | IXOFF | ISTRIP | INLCR;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &t), 0);
}

// Writes from another thread without hanging the test when the reader has
// given up: waits for room in short steps and stops when told or after 20 s.
void writeUntil(int master, const std::vector<uint8_t>& bytes, const std::atomic<bool>& stop) {
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

TEST_F(PtyPort, EveryByteValuePassesBothWaysOnADeviceLeftCooked) {
    leaveCooked(pty.master());
    ASSERT_EQ(open(), 0);

    for (int b = 0; b < 256; ++b) ASSERT_EQ(ComWrtByte(kPort, b), 1);
    EXPECT_EQ(pty.read(256, 5.0), allByteValues());

    // From the board: once in one block read, once byte by byte; XON, XOFF,
    // CR and LF among them must neither vanish nor change.
    pty.write(allByteValues());
    pty.write(allByteValues());
    std::vector<uint8_t> block(256);
    ASSERT_EQ(ComRd(kPort, block.data(), 256), 256);
    EXPECT_EQ(block, allByteValues());
    std::vector<uint8_t> single;
    for (int i = 0; i < 256; ++i) {
        const int b = ComRdByte(kPort);
        ASSERT_GE(b, 0) << "byte " << i << ": " << ComErrorText(b);
        single.push_back(static_cast<uint8_t>(b));
    }
    EXPECT_EQ(single, allByteValues());
    // Nothing came back to the board: no echo.
    EXPECT_TRUE(pty.read(1, 0.2).empty());
}

TEST_F(PtyPort, AStreamLongerThanThePortBufferArrivesWholeAndInOrder) {
    ASSERT_EQ(open(250000, 2), 0);
    constexpr std::size_t kTotal = 300'000;  // several refills of the 64 KiB buffer
    auto pattern = [](std::size_t i) { return static_cast<uint8_t>(i * 7 + i / 251); };
    std::atomic<bool> stop{false};
    std::thread board([&] {
        std::vector<uint8_t> bytes(kTotal);
        for (std::size_t i = 0; i < kTotal; ++i) bytes[i] = pattern(i);
        writeUntil(pty.master(), bytes, stop);
    });
    std::size_t good = 0;
    for (std::size_t i = 0; i < kTotal; ++i) {
        const int b = ComRdByte(kPort);
        if (b != pattern(i)) {
            ADD_FAILURE() << "byte " << i << " is " << b << ", expected " << int(pattern(i));
            break;
        }
        ++good;
    }
    stop = true;
    board.join();
    EXPECT_EQ(good, kTotal);
}

TEST_F(PtyPort, StandardAndNonStandardBaudRatesReachTheDevice) {
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

TEST_F(PtyPort, EvenAndOddParityOpenOnAPseudoTerminalAndTheLineIsRaw) {
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

TEST_F(PtyPort, SevenDataBitsAreRefusedWhereTheDeviceCannotTakeThem) {
    // A pty always carries 8 bits: the setting does not take, the open
    // reports it and leaves nothing open.
    EXPECT_EQ(OpenComConfig(kPort, "", 19200, 0, 7, 1, 256, 256), COM_ERR_CONFIG);
    EXPECT_NE(tarvo::rt::lastComError(kPort).find("data bits"), std::string::npos);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    // The device is free again.
    EXPECT_EQ(open(), 0);
}
