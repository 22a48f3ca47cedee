// Opening ports by number: what fails, why, and that a failure leaves
// nothing open.
#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <set>

#include "serial_fixture.h"

using tarvo::rt::lastComError;
using tarvo::rt::setComDevice;

namespace {

bool mentions(const std::string& text, const std::string& word)
{
    return text.find(word) != std::string::npos;
}

}  // namespace

TEST_F(PtyPort, AMissingDeviceFailsAndLeavesNothingOpen)
{
    setComDevice(kPort + 1, "/dev/tarvo-no-such-device");
    EXPECT_EQ(open(19200, 0, kPort + 1), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "/dev/tarvo-no-such-device"));
    EXPECT_EQ(ComRdByte(kPort + 1), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(kPort + 1), COM_ERR_NOT_OPEN);

    // A file that is not a terminal is no serial port either.
    setComDevice(kPort + 1, "/dev/null");
    EXPECT_EQ(open(19200, 0, kPort + 1), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "not a serial device"));
}

TEST_F(PtyPort, AReopenThatFailsClosesTheOldPortToo)
{
    ASSERT_EQ(open(), 0);
    setComDevice(kPort, "/dev/tarvo-no-such-device");
    EXPECT_EQ(open(), COM_ERR_OPEN);
    EXPECT_EQ(ComWrtByte(kPort, 1), COM_ERR_NOT_OPEN);
}

TEST_F(PtyPort, ADeviceInUseIsRefusedAsBusy)
{
    ASSERT_EQ(open(), 0);
    // The same device under a second number, as a second program would try.
    setComDevice(kPort + 1, pty.slavePath());
    EXPECT_EQ(open(19200, 0, kPort + 1), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "busy")) << lastComError(kPort + 1);
    EXPECT_EQ(ComRdByte(kPort + 1), COM_ERR_NOT_OPEN);
    // The holder is undisturbed.
    ASSERT_EQ(ComWrtByte(kPort, 0x33), 1);
    EXPECT_EQ(pty.read(1, 5.0), std::vector<uint8_t>{0x33});
    ASSERT_EQ(CloseCom(kPort), 0);

    // Another program holding the device's lock.
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(open(), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort), "busy")) << lastComError(kPort);
    ::close(other);
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(lastComError(kPort), "");
}

TEST_F(PtyPort, OpeningAnOpenNumberAgainReplacesItsPort)
{
    // The Start command reopens the handshake's port at the acquisition setting.
    ASSERT_EQ(open(19200, 0), 0);
    ASSERT_EQ(SetComTime(kPort, 5.0), 0);
    ASSERT_EQ(open(115200, 2), 0);
    EXPECT_EQ(slaveBaud(pty.master()), 115200);
    // The new port has the default time-out again.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
    EXPECT_LT(since(start), 3 * DEFAULT_COM_TIMEOUT);
}

TEST_F(PtyPort, AnExplicitDeviceNameNeedsNoMapping)
{
    EXPECT_EQ(OpenComConfig(kPort + 1, pty.slavePath().c_str(), 19200, 0, 8, 1, 256, 256), 0);
    ASSERT_EQ(ComWrtByte(kPort + 1, 0x7E), 1);
    EXPECT_EQ(pty.read(1, 5.0), std::vector<uint8_t>{0x7E});
}

TEST_F(PtyPort, BadNumbersAndSettingsAreRejectedWithoutOpening)
{
    for (int bad : {0, -1, tarvo::rt::kMaxPortNumber + 1}) {
        EXPECT_EQ(OpenComConfig(bad, "", 19200, 0, 8, 1, 256, 256), COM_ERR_BAD_ARG);
        EXPECT_EQ(ComRdByte(bad), COM_ERR_BAD_ARG);
        EXPECT_EQ(CloseCom(bad), COM_ERR_BAD_ARG);
    }
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(SetComTime(kPort, -1.0), COM_ERR_BAD_ARG);
    EXPECT_EQ(ComBreak(kPort, -5), COM_ERR_BAD_ARG);
    EXPECT_EQ(ComRd(kPort, nullptr, 4), COM_ERR_BAD_ARG);
    EXPECT_EQ(ComRd(kPort, nullptr, 0), 0);
}

TEST_F(PtyPort, EachBadLinkSettingIsRefusedWithItsReasonBeforeTheDeviceIsTouched)
{
    struct Case {
        long baud;
        int parity, dataBits, stopBits;
        const char* reason;
    };
    const Case cases[] = {
        {0, 0, 8, 1, "baud rate must be positive"},
        {-9600, 0, 8, 1, "baud rate must be positive"},
        {12000001, 2, 8, 1, "baud rate above 12,000,000 bit/s"},
        {19200, 3, 8, 1, "parity must be 0 (none), 1 (odd) or 2 (even)"},
        {19200, -1, 8, 1, "parity must be 0 (none), 1 (odd) or 2 (even)"},
        {19200, 0, 4, 1, "data bits must be 5 to 8"},
        {19200, 0, 9, 1, "data bits must be 5 to 8"},
        {19200, 0, 8, 0, "stop bits must be 1 or 2"},
        {19200, 0, 8, 3, "stop bits must be 1 or 2"},
    };
    // The virtual board is refused for the same reasons as a device.
    setComDevice(kPort + 1, "virtual");
    for (const Case& c : cases) {
        for (int port : {kPort, kPort + 1}) {
            EXPECT_EQ(OpenComConfig(port, "", c.baud, c.parity, c.dataBits, c.stopBits, 256, 256),
                      COM_ERR_BAD_ARG);
            const std::string device = port == kPort ? pty.slavePath() : "virtual";
            EXPECT_EQ(lastComError(port), "'" + device + "': " + c.reason);
            EXPECT_EQ(ComRdByte(port), COM_ERR_NOT_OPEN);
        }
    }
    // Refused before the open: the device's settings were never touched.
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.master(), &t), 0);
    EXPECT_NE(t.c_lflag & ICANON, 0u) << "the line was made raw by a refused open";
    // The largest value each setting may take opens (a pty takes any rate).
    EXPECT_EQ(OpenComConfig(kPort, "", 12000000, 2, 8, 2, 256, 256), 0) << lastComError(kPort);
}

TEST_F(PtyPort, CallsOnAPortThatIsNotOpenSaySo)
{
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComWrtByte(kPort, 0), COM_ERR_NOT_OPEN);
    EXPECT_EQ(FlushInQ(kPort), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComBreak(kPort, 10), COM_ERR_NOT_OPEN);
    EXPECT_EQ(SetComTime(kPort, 1.0), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CancelComRd(kPort), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(kPort), COM_ERR_NOT_OPEN);
    // Every code has a text of its own for the message line.
    std::set<std::string> texts;
    for (int code : {COM_ERR_NOT_OPEN, COM_ERR_OPEN, COM_ERR_CONFIG, COM_ERR_IO, COM_ERR_BAD_ARG,
                     COM_ERR_TIMEOUT, COM_ERR_CANCELLED})
        texts.insert(ComErrorText(code));
    EXPECT_EQ(texts.size(), 7u);
}
