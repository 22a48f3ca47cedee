// The handshake (sendconf): identification, block and checksum against the
// board model, as cases shared by every platform's test. Each platform's
// test file instantiates them over its board link: a class with
//
//   std::string start(const std::vector<std::string>& options);
//       starts tarvo-board with these options on the far end of a line and
//       returns the device the recorder opens (empty after a test failure)
//   std::string stop();
//       ends the board, if one runs, and returns its log
//   static std::string noSuchPort(const TempDir& dir);
//       a device name that names no port
//   static constexpr double kLongestHandshake;
//       seconds within which a handshake without a time-out ends
//
// and includes this header once.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "buildconf.h"
#include "com_table.h"
#include "pty.h"
#include "runtime.h"
#include "sendconf.h"
#include "state.h"

namespace handshake_cases {

constexpr int kPort = 3;

// 6 channels, 115200 baud, status byte, 2000 us: checksum 0xEE.
const unsigned char kBlock[14] = {0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00,
                                  0x00, 0x00, 0x7B, 0xCE, 0xFF, 0xFF, 0x80};

template <class BoardLink>
class Handshake : public ::testing::Test {
protected:
    TempDir dir;
    BoardLink board;

    void startBoard(const std::vector<std::string>& options = {})
    {
        const std::string device = board.start(options);
        ASSERT_FALSE(device.empty());
        tarvo::rt::setComDevice(kPort, device);
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
        log = board.stop();
        return r;
    }

    void TearDown() override { tarvo::rt::clearComDevices(); }

    double seconds = 0;
    std::string log;
};

TYPED_TEST_SUITE_P(Handshake);

TYPED_TEST_P(Handshake, AGoodBoardTakesTheBlock)
{
    this->startBoard();
    EXPECT_EQ(this->handshake(), 0);
    EXPECT_EQ(c, 0xEE);
    EXPECT_NE(this->log.find("rx block 06 0A 08 06 04 02 00 00 00 7B CE FF FF 80"),
              std::string::npos)
        << this->log;
    EXPECT_GE(this->seconds, 1.0);                           // break and two pauses
    EXPECT_LT(this->seconds, TypeParam::kLongestHandshake);  // and no read waits out its time-out
}

TYPED_TEST_P(Handshake, AWrongIdentificationSendsNoBlock)
{
    for (const char* fault : {"--wrong-id", "--lowercase-id", "--short-id", "--zero-in-id"}) {
        SCOPED_TRACE(fault);
        this->startBoard({fault});
        EXPECT_EQ(this->handshake(), -1);
        EXPECT_EQ(this->log.find("rx block"), std::string::npos) << this->log;
        EXPECT_EQ(this->log.find("rx "), std::string::npos) << this->log;  // not one byte of it
    }
}

TYPED_TEST_P(Handshake, ExtraBytesAfterTheIdentificationAndNoiseBeforeItDoNotDisturb)
{
    for (const char* fault : {"--extra-after-id", "--noise"}) {
        SCOPED_TRACE(fault);
        this->startBoard({fault});
        EXPECT_EQ(this->handshake(), 0);
        EXPECT_EQ(c, 0xEE);
    }
}

TYPED_TEST_P(Handshake, AWrongOrMissingChecksumIsABadChecksum)
{
    this->startBoard({"--bad-checksum"});
    EXPECT_EQ(this->handshake(), -2);
    EXPECT_NE(this->log.find("rx block"), std::string::npos) << this->log;
    this->startBoard({"--no-checksum"});
    EXPECT_EQ(this->handshake(), -2);
    EXPECT_EQ(c, 0);  // nothing came: c kept its value
}

TYPED_TEST_P(Handshake, ReplyByte255MatchesChecksum255)
{
    // 6 channels, 115200 baud, status byte, 1794 us.
    const unsigned char block[14] = {0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00,
                                     0x00, 0x00, 0x77, 0xE3, 0xFF, 0xFF, 0x80};
    ASSERT_EQ(blockchecksum(block, 14), 0xFFu);
    this->startBoard();
    EXPECT_EQ(this->handshake(block), 0);
    EXPECT_EQ(c, 0xFF);
}

TYPED_TEST_P(Handshake, AnAbsentBoardIsUnknownWithinTheTimeOut)
{
    Pty silent;  // a line with nobody on it
    tarvo::rt::setComDevice(kPort, silent.slavePath());
    EXPECT_EQ(this->handshake(), -1);
    EXPECT_LT(this->seconds, 0.75 + DEFAULT_COM_TIMEOUT + 1.0);
    EXPECT_TRUE(silent.read(1, 0.1).empty());  // no block byte went out

    tarvo::rt::setComDevice(kPort, TypeParam::noSuchPort(this->dir));
    EXPECT_EQ(this->handshake(), -1);
}

REGISTER_TYPED_TEST_SUITE_P(Handshake, AGoodBoardTakesTheBlock, AWrongIdentificationSendsNoBlock,
                            ExtraBytesAfterTheIdentificationAndNoiseBeforeItDoNotDisturb,
                            AWrongOrMissingChecksumIsABadChecksum, ReplyByte255MatchesChecksum255,
                            AnAbsentBoardIsUnknownWithinTheTimeOut);

}  // namespace handshake_cases
