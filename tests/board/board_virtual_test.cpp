// The built-in virtual board through the numbered-port calls, as the
// recorder uses it: handshake at 19200, reopen, start byte, records.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "board_model.h"
#include "board_streams.h"
#include "runtime.h"
#include "serial_virtual.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using tarvo::board::Faults;

using tarvo::board::test::faultsWith;

namespace {

constexpr int kPort = 7;

const Bytes kBlock2000 = tarvo::board::test::bytes(tarvo::board::test::k6ch2000);
const Bytes kBlock1s = tarvo::board::test::bytes(tarvo::board::test::k1ch1s);
const Bytes kBlockFast = tarvo::board::test::bytes(tarvo::board::test::k1chFast);

class VirtualBoard : public ::testing::Test {
protected:
    void SetUp() override { tarvo::rt::resetVirtualBoard(kPort); }
    void TearDown() override { CloseCom(kPort); }

    void reset(const Faults& f) { tarvo::rt::resetVirtualBoard(kPort, f); }

    // The recorder's handshake; returns the checksum reply, or -1 for none.
    int handshake(const Bytes& block, std::string* ident = nullptr)
    {
        EXPECT_EQ(OpenComConfig(kPort, "virtual", 19200, 0, 8, 1, 256, 256), 0);
        FlushInQ(kPort);
        ComBreak(kPort, 500);
        char id[15] = {};
        ComRd(kPort, id, 14);
        if (ident)
            *ident = std::string(id, 14);
        FlushInQ(kPort);
        for (uint8_t b : block)
            ComWrtByte(kPort, b);
        unsigned char c = 0;
        return ComRd(kPort, &c, 1) == 1 ? c : -1;
    }

    // Close, reopen at the acquisition rate, flush, start byte.
    void start(long baud = 115200)
    {
        CloseCom(kPort);
        ASSERT_EQ(OpenComConfig(kPort, "virtual", baud, 2, 8, 1, 1, 1), 0);
        FlushInQ(kPort);
        ComWrtByte(kPort, 0x00);
    }

    // A board with these faults, configured by `block` and streaming at `baud`.
    void streaming(const Faults& f, const Bytes& block = kBlock2000, int reply = 0xEE,
                   long baud = 115200)
    {
        reset(f);
        ASSERT_EQ(handshake(block), reply);
        start(baud);
    }

    Bytes readBytes(std::size_t n)
    {
        Bytes out;
        for (std::size_t i = 0; i < n; ++i) {
            const int b = ComRdByte(kPort);
            if (b < 0)
                break;
            out.push_back(uint8_t(b));
        }
        return out;
    }

    static Bytes expected(const Bytes& block, uint64_t first, uint64_t count)
    {
        return tarvo::board::test::recordBytes(tarvo::board::test::streamingBoard(block), first,
                                               count);
    }
};

}  // namespace

TEST_F(VirtualBoard, HandshakeThenPacedRecordsWithTheConfiguredLayout)
{
    std::string ident;
    EXPECT_EQ(handshake(kBlock2000, &ident), 0xEE);
    EXPECT_EQ(ident, "KLVDAQ00730019");
    start();
    const auto t = Clock::now();
    const Bytes got = readBytes(100 * 10);
    const auto took = Clock::now() - t;
    EXPECT_EQ(got, expected(kBlock2000, 1, 100));
    EXPECT_GE(took, 99 * 2000us) << "paced at the block's period";

    tarvo::rt::inspectVirtualBoard(kPort, [](const tarvo::board::BoardModel& b) {
        EXPECT_TRUE(b.streaming());
        const auto& log = b.log();
        EXPECT_NE(std::find(log.begin(), log.end(), "tx checksum EE"), log.end());
        EXPECT_NE(std::find(log.begin(), log.end(), "line 115200 8E1"), log.end());
    });
}

TEST_F(VirtualBoard, NoiseIsWaitingAtOpenAndTheFlushRemovesIt)
{
    Faults f;
    f.noise = true;
    reset(f);
    const Bytes noise = tarvo::board::BoardModel(f).takeOutput();
    ASSERT_EQ(OpenComConfig(kPort, "virtual", 19200, 0, 8, 1, 256, 256), 0);
    Bytes got(noise.size());
    EXPECT_EQ(ComRd(kPort, got.data(), int(got.size())), int(noise.size()));
    EXPECT_EQ(got, noise);
    CloseCom(kPort);
    std::string ident;
    EXPECT_EQ(handshake(kBlock2000, &ident), 0xEE);
    EXPECT_EQ(ident, "KLVDAQ00730019");
}

TEST_F(VirtualBoard, WrongIdentificationAndMissingChecksum)
{
    Faults f;
    f.ident = Faults::Ident::LowerCase;
    reset(f);
    std::string ident;
    handshake(kBlock2000, &ident);
    EXPECT_EQ(ident, "klvdaq00730019");

    Faults g;
    g.check = Faults::Check::None;
    reset(g);
    SetComTime(kPort, 0.2);
    EXPECT_EQ(handshake(kBlock2000), -1);
}

TEST_F(VirtualBoard, SilenceTimesOutAndACancelWakesTheReader)
{
    ASSERT_NO_FATAL_FAILURE(streaming(faultsWith(&Faults::silenceAfter, 2)));
    SetComTime(kPort, 0.3);
    EXPECT_EQ(readBytes(20).size(), 20u);
    const auto t = Clock::now();
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
    EXPECT_LT(Clock::now() - t, 900ms);

    SetComTime(kPort, 60);
    int result = 0;
    std::thread reader([&] { result = ComRdByte(kPort); });
    std::this_thread::sleep_for(50ms);
    const auto c = Clock::now();
    CancelComRd(kPort);
    reader.join();
    EXPECT_EQ(result, COM_ERR_CANCELLED);
    EXPECT_LT(Clock::now() - c, 5s);
}

TEST_F(VirtualBoard, HangUpFailsTheReadsAfterTheLastRecord)
{
    ASSERT_NO_FATAL_FAILURE(streaming(faultsWith(&Faults::hangupAfter, 3)));
    EXPECT_EQ(readBytes(30), expected(kBlock2000, 1, 3));
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_IO);
    EXPECT_EQ(ComWrtByte(kPort, 0), COM_ERR_IO);
}

TEST_F(VirtualBoard, ALineTooSlowForThePeriodLosesRecordsAndWhatIsOnItArrivesBeforeTheHangUp)
{
    // The records' link is 8E1: at 9600 bit/s a 10-byte record takes 110
    // bit times, 11.458 ms, 3.35 periods of 3420 us. Records 1 and 2 go
    // (ending at 11.458 and 22.917 ms), 3 and 4 find the line full, 5 goes
    // (due 13.68 ms, ending 34.375 ms), 6 and 7 find it full, and the
    // hang-up after record 7 comes while 5 is still on the line.
    const Bytes block = tarvo::board::test::bytes(tarvo::board::test::k6ch3420);
    ASSERT_NO_FATAL_FAILURE(streaming(faultsWith(&Faults::hangupAfter, 7), block,
                                      tarvo::board::blockChecksum(block.data(), block.size()),
                                      9600));
    Bytes want = expected(block, 1, 5);
    want.erase(want.begin() + 20, want.begin() + 40);  // records 1, 2 and 5
    EXPECT_EQ(readBytes(30), want);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_IO);
    tarvo::rt::inspectVirtualBoard(kPort, [](const tarvo::board::BoardModel& b) {
        EXPECT_EQ(b.recordNumber(), 7u);
        EXPECT_EQ(b.recordsSent(), 3u);
        EXPECT_NE(std::find(b.log().begin(), b.log().end(), "line 9600 8E1"), b.log().end());
        // 9600 / 11 bit times: 872 bytes a second.
        EXPECT_NE(std::find(b.log().begin(), b.log().end(),
                            "line full at record 3: 872 bytes/s carry no more, the records in "
                            "between are not sent"),
                  b.log().end());
    });
}

TEST_F(VirtualBoard, LostRecordsShowInTheCounter)
{
    ASSERT_NO_FATAL_FAILURE(streaming(faultsWith(&Faults::loseRecordEvery, 4)));
    const Bytes got = readBytes(6 * 10);
    ASSERT_EQ(got.size(), 60u);
    std::vector<int> counters;
    for (std::size_t i = 9; i < got.size(); i += 10)
        counters.push_back(got[i] & 15);
    EXPECT_EQ(counters, (std::vector<int>{1, 2, 3, 5, 6, 7}));
}

TEST_F(VirtualBoard, AReaderThatFallsBehindLosesTheOldestRecords)
{
    ASSERT_NO_FATAL_FAILURE(streaming(
        {}, kBlockFast, tarvo::board::blockChecksum(kBlockFast.data(), kBlockFast.size())));
    EXPECT_EQ(readBytes(3), expected(kBlockFast, 1, 1));
    // Over 4,000 records fall due meanwhile, more than a receiver holds.
    std::this_thread::sleep_for(2s);
    const Bytes got = readBytes(3 * 3000);
    ASSERT_EQ(got.size(), 9000u);
    EXPECT_NE(got, expected(kBlockFast, 2, 3000));
    tarvo::rt::inspectVirtualBoard(kPort, [](const tarvo::board::BoardModel& b) {
        EXPECT_GT(b.recordNumber(), 3001u);
        const bool noted = std::any_of(b.log().begin(), b.log().end(), [](const std::string& l) {
            return l.rfind("overrun: ", 0) == 0;
        });
        EXPECT_TRUE(noted);
    });
}

TEST_F(VirtualBoard, FloodSendsWithoutWaiting)
{
    ASSERT_NO_FATAL_FAILURE(streaming(faultsWith(&Faults::flood, true), kBlock1s, 0x99, 38400));
    // 50,000 records of a 1 s period: only flood mode delivers them in time.
    Bytes got(100000);
    SetComTime(kPort, 5);
    EXPECT_EQ(ComRd(kPort, got.data(), int(got.size())), 100000);
    EXPECT_EQ(got, expected(kBlock1s, 1, 50000));
}

TEST_F(VirtualBoard, ANewRunAfterTheLastOneClosed)
{
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(handshake(kBlock2000), 0xEE) << run;
        start();
        EXPECT_EQ(readBytes(20), expected(kBlock2000, 1, 2)) << run;
        CloseCom(kPort);
    }
}

TEST_F(VirtualBoard, ABreakStartsTheHandshakeOverWhateverTheBoardWasDoing)
{
    // Configured, its run never started (data.txt could not be created), and
    // the user presses Start again.
    ASSERT_EQ(handshake(kBlock2000), 0xEE);
    CloseCom(kPort);
    std::string ident;
    ASSERT_EQ(handshake(kBlockFast, &ident), 0x02);
    EXPECT_EQ(ident, "KLVDAQ00730019");
    start();
    EXPECT_EQ(readBytes(3 * 3), expected(kBlockFast, 1, 3));
    // Streaming, and a break on the open port: the identification, not records.
    FlushInQ(kPort);
    ComBreak(kPort, 500);
    char id[15] = {};
    EXPECT_EQ(ComRd(kPort, id, 14), 14);
    EXPECT_STREQ(id, "KLVDAQ00730019");
    tarvo::rt::inspectVirtualBoard(kPort, [](const tarvo::board::BoardModel& b) {
        EXPECT_EQ(b.state(), tarvo::board::BoardModel::State::Identified);
    });
}
