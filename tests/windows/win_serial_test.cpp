// The Win32 serial layer on COM ports whose far end is a pseudo-terminal
// held by tarvo-lines: what the port sends and receives, the settings the
// driver ends up with, and how opens fail. The cases shared with Linux come
// from serial_read_test.cpp (time-outs, flush, cancel, hang-up, break) and
// support/link_cases.h (every byte value, a long stream, seven data bits).
#include <windows.h>

#include <atomic>
#include <thread>

#include "../support/link_cases.h"

using tarvo::rt::lastComError;
using tarvo::rt::setComDevice;

namespace {

bool mentions(const std::string& text, const std::string& word)
{
    return text.find(word) != std::string::npos;
}

// The settings the driver holds for `com`, read through a handle of our own
// once the layer has closed the port.
DCB driverSettings(const std::string& com)
{
    DCB d{};
    d.DCBlength = sizeof d;
    const HANDLE h = CreateFileA(("\\\\.\\" + com).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << com;
    if (h == INVALID_HANDLE_VALUE)
        return d;
    EXPECT_TRUE(GetCommState(h, &d));
    CloseHandle(h);
    return d;
}

// What a previous program might have left on the port: XON/XOFF both ways,
// NUL bytes stripped, parity errors replaced, hardware flow control.
void leaveCooked(const std::string& com)
{
    const HANDLE h = CreateFileA(("\\\\.\\" + com).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB d{};
    d.DCBlength = sizeof d;
    ASSERT_TRUE(GetCommState(h, &d));
    d.BaudRate = 9600;
    d.ByteSize = 8;
    d.fOutX = d.fInX = TRUE;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    d.fNull = TRUE;
    d.fOutxCtsFlow = TRUE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    SetCommState(h, &d);  // a pty may refuse some of it; what it takes is enough
    CloseHandle(h);
}

bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

// The far end that tarvo-lines holds for the test.
struct RemoteFarEnd {
    static constexpr long kStreamBaud = 115200;
    static constexpr std::size_t kStreamBytes = 200'000;
    static void leaveCooked(PtyPair& pty) { ::leaveCooked(pty.slavePath()); }
    // Through tarvo-lines; the test closes the port to end a write it no
    // longer reads.
    static void send(PtyPair& pty, const std::vector<uint8_t>& bytes, const std::atomic<bool>&)
    {
        pty.write(bytes);
    }
};

namespace link_cases {
INSTANTIATE_TYPED_TEST_SUITE_P(PtyPort, Link, RemoteFarEnd);
}  // namespace link_cases

TEST_F(PtyPort, TheLinkSettingReachesTheDriver)
{
    leaveCooked(pty.slavePath());
    struct Case {
        long baud;
        int parity;
    };
    for (const Case c : {Case{19200, 0}, Case{115200, 2}, Case{57600, 1}, Case{9600, 0}}) {
        SCOPED_TRACE(c.baud);
        ASSERT_EQ(open(c.baud, c.parity), 0) << lastComError(kPort);
        ASSERT_EQ(CloseCom(kPort), 0);
        const DCB d = driverSettings(pty.slavePath());
        EXPECT_EQ(d.BaudRate, DWORD(c.baud));
        EXPECT_EQ(d.ByteSize, 8);
        EXPECT_EQ(d.StopBits, ONESTOPBIT);
        EXPECT_TRUE(d.fBinary);
        EXPECT_FALSE(d.fOutX || d.fInX || d.fOutxCtsFlow || d.fOutxDsrFlow);
        EXPECT_FALSE(d.fNull);
        EXPECT_NE(d.fRtsControl, DWORD(RTS_CONTROL_HANDSHAKE));
    }
}

TEST_F(PtyPort, ARateTheDriverCannotSetIsRefusedNotReplaced)
{
    // A pty under wine takes only the standard rates; a USB adapter on
    // Windows takes 250000. Either the port runs at that rate, or the open
    // fails and says why: never another rate in silence.
    const int r = open(250000);
    if (r == 0) {
        ASSERT_EQ(CloseCom(kPort), 0);
        EXPECT_EQ(driverSettings(pty.slavePath()).BaudRate, 250000u);
    } else {
        EXPECT_EQ(r, COM_ERR_CONFIG);
        EXPECT_TRUE(mentions(lastComError(kPort), "baud rate")) << lastComError(kPort);
        EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    }
    EXPECT_EQ(open(115200), 0);
}

TEST_F(PtyPort, MissingPortsAndOtherDevicesFailAndLeaveNothingOpen)
{
    setComDevice(kPort + 1, "COM254");
    EXPECT_EQ(open(19200, 0, kPort + 1), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "COM254")) << lastComError(kPort + 1);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "no such port")) << lastComError(kPort + 1);
    EXPECT_EQ(ComRdByte(kPort + 1), COM_ERR_NOT_OPEN);

    setComDevice(kPort + 1, "NUL");
    EXPECT_EQ(open(19200, 0, kPort + 1), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "not a serial device"))
        << lastComError(kPort + 1);

    // A reopen that fails closes the old port too.
    ASSERT_EQ(open(), 0);
    setComDevice(kPort, "COM254");
    EXPECT_EQ(open(), COM_ERR_OPEN);
    EXPECT_EQ(ComWrtByte(kPort, 1), COM_ERR_NOT_OPEN);
}

TEST_F(PtyPort, APortIsNamedAsWindowsUsersWriteIt)
{
    std::string lower = pty.slavePath();
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const std::string& name : {lower, "\\\\.\\" + pty.slavePath()}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(OpenComConfig(kPort + 1, name.c_str(), 19200, 0, 8, 1, 256, 256), 0)
            << lastComError(kPort + 1);
        ASSERT_EQ(ComWrtByte(kPort + 1, 0x7E), 1);
        EXPECT_EQ(pty.read(1, 5.0), std::vector<uint8_t>{0x7E});
        ASSERT_EQ(CloseCom(kPort + 1), 0);
    }
}

TEST_F(PtyPort, APortInUseIsRefusedAsBusy)
{
    if (underWine())
        GTEST_SKIP() << "wine does not make serial devices exclusive";
    ASSERT_EQ(open(), 0);
    setComDevice(kPort + 1, pty.slavePath());
    EXPECT_EQ(open(19200, 0, kPort + 1), COM_ERR_OPEN);
    EXPECT_TRUE(mentions(lastComError(kPort + 1), "busy")) << lastComError(kPort + 1);
}

TEST_F(PtyPort, TheDefaultTableAndTheListUseComNames)
{
    tarvo::rt::clearComDevices();
    EXPECT_EQ(tarvo::rt::comDevice(3), "COM3");
    EXPECT_EQ(tarvo::rt::comDevice(42), "COM42");

    // Every port the system knows by name (asked here one name at a time;
    // the layer reads the drivers' table and the list of names) is listed
    // under its own number. Under wine that is COM1 when the machine has
    // /dev/ttyS0; the ports of these tests exist only as links wine
    // follows when opening.
    const auto ports = tarvo::rt::listPorts();
    for (int n = 1; n <= 256; ++n) {
        char target[512];
        const std::string name = "COM" + std::to_string(n);
        if (!QueryDosDeviceA(name.c_str(), target, sizeof target))
            continue;
        bool listed = false;
        for (const auto& p : ports) {
            if (p.number != n)
                continue;
            listed = true;
            EXPECT_EQ(p.device, name);
            EXPECT_FALSE(p.description.empty());
        }
        EXPECT_TRUE(listed) << name << " (" << target << ") is not in the list";
    }
    // An entry naming a known port, in other letters, under another number
    // shows that port once: under the entry's number.
    char target[512];
    if (QueryDosDeviceA("COM1", target, sizeof target)) {
        setComDevice(200, "com1");
        int times = 0;
        for (const auto& p : tarvo::rt::listPorts())
            times += p.number == 1 || p.number == 200;
        EXPECT_EQ(times, 1);
    }
}
