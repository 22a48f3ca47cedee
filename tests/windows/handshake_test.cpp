// The handshake (sendconf) on Windows: identification, block and checksum,
// against tarvo-board, run natively on the far end of a COM port.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "buildconf.h"
#include "com_table.h"
#include "lines.h"
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
    std::unique_ptr<RemoteLine> board;

    void startBoard(const std::string& options = "")
    {
        board = std::make_unique<RemoteLine>("board " + options);
        ASSERT_FALSE(board->com().empty());
        tarvo::rt::setComDevice(kPort, board->com());
    }

    int handshake(const unsigned char* block = kBlock)
    {
        std::memcpy(ConfBytes, block, 14);
        chksum = blockchecksum(ConfBytes, 14);
        com = kPort;
        c = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const int r = sendconf();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        CloseCom(kPort);
        log = board ? board->stopBoard() : "";
        board.reset();
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
    EXPECT_LT(seconds, 1.9);  // and no read waits out its 1 s time-out
}

TEST_F(Handshake, AWrongIdentificationSendsNoBlock)
{
    for (const char* fault : {"--wrong-id", "--lowercase-id", "--short-id", "--zero-in-id"}) {
        SCOPED_TRACE(fault);
        startBoard(fault);
        EXPECT_EQ(handshake(), -1);
        EXPECT_EQ(log.find("rx "), std::string::npos) << log;  // not one byte of the block
    }
}

TEST_F(Handshake, ExtraBytesAfterTheIdentificationAndNoiseBeforeItDoNotDisturb)
{
    for (const char* fault : {"--extra-after-id", "--noise"}) {
        SCOPED_TRACE(fault);
        startBoard(fault);
        EXPECT_EQ(handshake(), 0);
        EXPECT_EQ(c, 0xEE);
    }
}

TEST_F(Handshake, AWrongOrMissingChecksumIsABadChecksum)
{
    startBoard("--bad-checksum");
    EXPECT_EQ(handshake(), -2);
    EXPECT_NE(log.find("rx block"), std::string::npos) << log;
    startBoard("--no-checksum");
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
    RemoteLine silent("pty");  // a line with nobody on it
    tarvo::rt::setComDevice(kPort, silent.com());
    EXPECT_EQ(handshake(), -1);
    EXPECT_LT(seconds, 0.75 + DEFAULT_COM_TIMEOUT + 1.0);
    EXPECT_TRUE(silent.read(1, 0.1).empty());  // no block byte went out

    tarvo::rt::setComDevice(kPort, "COM254");  // no such port
    EXPECT_EQ(handshake(), -1);
}
