// The handshake: identification, block and checksum, against the board model
// as tarvo-board on a pseudo-terminal and as the virtual board.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstring>

#include "buildconf.h"
#include "com_table.h"
#include "proc.h"
#include "pty.h"
#include "runtime.h"
#include "sendconf.h"
#include "state.h"

namespace {

constexpr int kPort = 3;

// 6 channels, 115200 baud, status byte, 2000 us: checksum 0xEE.
const unsigned char kBlock[14] = {0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00,
                                  0x00, 0x00, 0x7B, 0xCE, 0xFF, 0xFF, 0x80};

class Handshake : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<Proc> board;

    void startBoard(std::vector<std::string> options = {})
    {
        std::vector<std::string> argv = {binpath("tarvo-board"), "--log", dir.file("board.log")};
        argv.insert(argv.end(), options.begin(), options.end());
        board = std::make_unique<Proc>(argv);
        std::string path = board->firstLine(10);
        ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
        tarvo::rt::setComDevice(kPort, path);
    }

    int handshake(const unsigned char* block = kBlock)
    {
        std::memcpy(ConfBytes, block, 14);
        chksum = blockchecksum(ConfBytes, 14);
        com = kPort;
        c = 0;
        auto t0 = std::chrono::steady_clock::now();
        int r = sendconf();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        CloseCom(kPort);
        if (board) {
            board->signal(SIGTERM);
            board->wait(10);
        }
        log = readfile(dir.file("board.log"));
        return r;
    }

    void TearDown() override { tarvo::rt::clearComDevices(); }

    double seconds = 0;
    std::string log;
};

}  // namespace

TEST_F(Handshake, AGoodBoardTakesTheBlock)
{
    startBoard();
    EXPECT_EQ(handshake(), 0);
    EXPECT_EQ(c, 0xEE);
    EXPECT_NE(log.find("rx block 06 0A 08 06 04 02 00 00 00 7B CE FF FF 80"), std::string::npos)
        << log;
    EXPECT_GE(seconds, 1.0);  // break and two pauses
    EXPECT_LT(seconds, 1.5);  // and no read waits out its time-out
}

TEST_F(Handshake, AWrongIdentificationSendsNoBlock)
{
    for (const char* fault : {"--wrong-id", "--lowercase-id", "--short-id", "--zero-in-id"}) {
        SCOPED_TRACE(fault);
        startBoard({fault});
        EXPECT_EQ(handshake(), -1);
        EXPECT_EQ(log.find("rx block"), std::string::npos) << log;
        EXPECT_EQ(log.find("rx "), std::string::npos) << log;  // not one byte of it
    }
}

TEST_F(Handshake, ExtraBytesAfterTheIdentificationAndNoiseBeforeItDoNotDisturb)
{
    for (const char* fault : {"--extra-after-id", "--noise"}) {
        SCOPED_TRACE(fault);
        startBoard({fault});
        EXPECT_EQ(handshake(), 0);
    }
}

TEST_F(Handshake, AWrongOrMissingChecksumIsABadChecksum)
{
    startBoard({"--bad-checksum"});
    EXPECT_EQ(handshake(), -2);
    EXPECT_NE(log.find("rx block"), std::string::npos);
    startBoard({"--no-checksum"});
    EXPECT_EQ(handshake(), -2);
    EXPECT_EQ(c, 0);  // nothing came: c kept its value
}

TEST_F(Handshake, ReplyByte255MatchesChecksum255)
{
    // 6 channels, 115200 baud, status byte, 1794 us.
    const unsigned char block[14] = {0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00,
                                     0x00, 0x00, 0x77, 0xE3, 0xFF, 0xFF, 0x80};
    ASSERT_EQ(blockchecksum(block, 14), 0xFFu);
    startBoard();
    EXPECT_EQ(handshake(block), 0);
    EXPECT_EQ(c, 0xFF);
}

TEST_F(Handshake, AnAbsentBoardIsUnknownWithinTheTimeOut)
{
    Pty silent;  // a line with nobody on it
    tarvo::rt::setComDevice(kPort, silent.slavePath());
    EXPECT_EQ(handshake(), -1);
    EXPECT_LT(seconds, 0.75 + DEFAULT_COM_TIMEOUT + 1.0);
    EXPECT_TRUE(silent.read(1, 0.1).empty());  // no block byte went out

    tarvo::rt::setComDevice(kPort, dir.file("no-such-port"));
    EXPECT_EQ(handshake(), -1);
}

TEST_F(Handshake, TheVirtualBoardTakesTheBlock)
{
    tarvo::rt::setComDevice(kPort, "virtual");
    EXPECT_EQ(handshake(), 0);
    EXPECT_EQ(c, 0xEE);
}
