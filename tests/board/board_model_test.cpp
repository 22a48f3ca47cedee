// The board model: the block check and its checksum, the handshake, the
// record stream and each fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>
#include <vector>

#include "board_model.h"
#include "board_streams.h"

using namespace tarvo::board;
using tarvo::board::test::Block;
using tarvo::board::test::k1ch1s;
using tarvo::board::test::k6ch1505;
using tarvo::board::test::k6ch2000;
using tarvo::board::test::k8ch5000;

using tarvo::board::test::faultsWith;

namespace {

// The recorder's unpacking rule for channel i of a record.
unsigned decode(const uint8_t* rec, unsigned i)
{
    const unsigned k = 3 * i / 2;
    if (i % 2 == 0)
        return 16u * rec[k] + (rec[k + 1] & 15u);
    return 16u * rec[k + 1] + (rec[k] & 240u) / 16u;
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// A board taken through break and block; returns the reply bytes.
std::vector<uint8_t> configure(BoardModel& b, const Block& block)
{
    b.lineBreak();
    b.takeOutput();
    b.receive(block.data(), block.size());
    return b.takeOutput();
}

bool logHas(const BoardModel& b, const std::string& line)
{
    return std::any_of(b.log().begin(), b.log().end(),
                       [&](const std::string& l) { return l.find(line) != std::string::npos; });
}

// A surplus channel entry left from an earlier 8-channel block: it counts in
// the checksum but not in the check.
constexpr Block k6ch2000Surplus =
    tarvo::board::test::blockOf("06 0A 08 06 04 02 00 02 00 7B CE FF FF 80");

}  // namespace

// --- configuration block ------------------------------------------------------

struct BlockCase {
    Block block;
    uint8_t checksum;
    unsigned channels;
    bool status;
    long baud;
    unsigned recLen;
    uint32_t periodUs;
};

class WorkedBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(WorkedBlocks, AreAcceptedWithTheirChecksumRecordLengthAndPeriod)
{
    const BlockCase& c = GetParam();
    const BoardConfig cfg = checkBlock(c.block.data());
    ASSERT_TRUE(cfg.valid) << cfg.problem;
    EXPECT_EQ(blockChecksum(c.block.data(), c.block.size()), c.checksum);
    EXPECT_EQ(cfg.channels, c.channels);
    EXPECT_EQ(cfg.status, c.status);
    EXPECT_EQ(cfg.baud, c.baud);
    EXPECT_EQ(cfg.recLen, c.recLen);
    EXPECT_EQ(cfg.periodUs, c.periodUs);

    BoardModel b;
    const auto reply = configure(b, c.block);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0], c.checksum);
    EXPECT_EQ(b.state(), BoardModel::State::Configured);
    EXPECT_EQ(b.period().count(), c.periodUs);
}

INSTANTIATE_TEST_SUITE_P(Examples, WorkedBlocks,
                         ::testing::Values(
                             // 1505 + 10 x 49 + 5.
                             BlockCase{k6ch2000, 0xEE, 6, true, 115200, 10, 2000},
                             BlockCase{k8ch5000, 0x4D, 8, true, 57600, 13, 5000},
                             BlockCase{k1ch1s, 0x99, 1, false, 0, 2, 1000000},
                             BlockCase{k6ch1505, 0x1A, 6, false, 115200, 9, 1505},
                             BlockCase{k6ch2000Surplus, 0xF0, 6, true, 115200, 10, 2000}));

TEST(Block, PeriodsAtBothEndsOfTheRange)
{
    // The period equal to the record cost: no spare time at all.
    const Block equal = {0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00,
                         0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x80};
    EXPECT_EQ(checkBlock(equal.data()).periodUs, 1505u);
    // The largest count, 0xFFFFFF: 167,773,664 us.
    const Block longest = {0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00,
                           0x00, 0x00, 0x77, 0x00, 0x00, 0x00, 0x80};
    const BoardConfig c = checkBlock(longest.data());
    EXPECT_EQ(c.count, 0xFFFFFFu);
    EXPECT_EQ(c.periodUs, 167773664u);
}

TEST(Checksum, CarryGoesBackIntoBitZero)
{
    const uint8_t exactly256[] = {0x80, 0x80};
    EXPECT_EQ(blockChecksum(exactly256, 2), 1);
    const uint8_t plusFF[] = {0x05, 0xFF};  // adding 0xFF to a non-zero sum changes nothing
    EXPECT_EQ(blockChecksum(plusFF, 2), 5);
    const uint8_t allFF[] = {0xFF, 0xFF, 0xFF};
    EXPECT_EQ(blockChecksum(allFF, 3), 0xFF);
}

TEST(Block, InvalidBlocksAreRefusedWithABadChecksumAndNeverStream)
{
    auto with = [](std::size_t i, uint8_t v) {
        Block b = k6ch2000;
        b[i] = v;
        return b;
    };
    const Block bad[] = {
        with(0, 0),      // no channel
        with(0, 9),      // more channels than the block has room for
        with(3, 0x07),   // a channel entry out of order
        with(6, 0x01),   // the last entry must be 0
        with(13, 0x82),  // flag bit 1
        with(13, 0xA0),  // flag bit 5
        with(13, 0xC0),  // two rates at once
        with(9, 0x76),   // fine delay below 0x77
        with(9, 0x81),   // fine delay above 0x80
    };
    for (const Block& block : bad) {
        SCOPED_TRACE(::testing::PrintToString(block));
        EXPECT_FALSE(checkBlock(block.data()).valid);
        EXPECT_FALSE(checkBlock(block.data()).problem.empty());
        BoardModel b;
        const auto reply = configure(b, block);
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(reply[0], uint8_t(0xFF ^ blockChecksum(block.data(), block.size())));
        EXPECT_EQ(b.state(), BoardModel::State::Refused);
        const uint8_t start = kStartByte;
        b.receive(&start, 1);
        EXPECT_FALSE(b.streaming());
        std::vector<uint8_t> out;
        EXPECT_EQ(b.produce(&out, 10), 0u);
        EXPECT_TRUE(out.empty());
    }
}

// --- handshake -------------------------------------------------------------------

TEST(Handshake, BreakIdentifiesBlockGetsChecksumStartByteStartsTheStream)
{
    BoardModel b;
    EXPECT_FALSE(b.hasOutput());
    b.linkOpened();
    EXPECT_FALSE(b.hasOutput()) << "opening alone sends nothing";
    b.lineBreak();
    EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
    // The block may come in pieces.
    b.receive(k6ch2000.data(), 5);
    EXPECT_FALSE(b.hasOutput());
    b.receive(k6ch2000.data() + 5, 9);
    EXPECT_EQ(b.takeOutput(), std::vector<uint8_t>{0xEE});
    const uint8_t start = kStartByte;
    b.receive(&start, 1);
    EXPECT_TRUE(b.streaming());

    EXPECT_TRUE(logHas(b, "tx ident 4B 4C 56 44 41 51 30 30 37 33 30 30 31 39"));
    EXPECT_TRUE(logHas(b, "rx block 06 0A 08 06 04 02 00 00 00 7B CE FF FF 80"));
    EXPECT_TRUE(logHas(b, "tx checksum EE"));
    EXPECT_TRUE(
        logHas(b, "config ok channels=6 status=1 baud=115200 reclen=10 count=49 period=2000"));
}

TEST(Handshake, FlushesAndReopeningLaterInTheHandshakeDoNotRestartIt)
{
    BoardModel b;
    b.linkOpened();
    b.breakStandIn("flush");  // the recorder's first flush stands in for the break
    EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
    b.breakStandIn("flush");  // its flush after reading the identification
    EXPECT_FALSE(b.hasOutput());
    b.receive(k6ch2000.data(), k6ch2000.size());
    EXPECT_EQ(b.takeOutput(), std::vector<uint8_t>{0xEE});
    // Close and reopen at the acquisition rate, flush, start byte.
    b.linkClosed();
    b.linkOpened();
    b.breakStandIn("open");
    b.breakStandIn("flush");
    EXPECT_FALSE(b.hasOutput());
    EXPECT_EQ(b.state(), BoardModel::State::Configured);
    const uint8_t start = kStartByte;
    b.receive(&start, 1);
    EXPECT_TRUE(b.streaming());
    EXPECT_TRUE(logHas(b, "flush ignored (identified)"));
    EXPECT_TRUE(logHas(b, "flush held (configured"));
}

TEST(Handshake, IdentificationIsSentAgainOnlyBeforeTheBlock)
{
    BoardModel b;
    b.breakStandIn("flush");
    b.takeOutput();
    b.resendIdent("flush");  // a flush that came before the recorder could read it
    EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
    b.receive(k6ch2000.data(), 1);
    b.resendIdent("flush");
    EXPECT_FALSE(b.hasOutput());
}

TEST(Handshake, ARealBreakStartsOverFromAnyState)
{
    BoardModel b;
    configure(b, k6ch2000);
    const uint8_t start = kStartByte;
    b.receive(&start, 1);
    std::vector<uint8_t> out;
    b.produce(&out, 3);
    b.lineBreak();
    EXPECT_EQ(b.state(), BoardModel::State::Identified);
    EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
}

TEST(Handshake, ClosingAfterAFailedOrFinishedRunMakesTheBoardReadyAgain)
{
    const uint8_t start = kStartByte;
    {  // closed during the stream
        BoardModel b;
        configure(b, k6ch2000);
        b.receive(&start, 1);
        std::vector<uint8_t> out;
        b.produce(&out, 4);
        b.linkClosed();
        EXPECT_EQ(b.state(), BoardModel::State::Idle);
        EXPECT_TRUE(logHas(b, "idle after 4 records"));
        b.linkOpened();
        b.breakStandIn("flush");
        EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
    }
    {  // closed after the identification, before any block
        BoardModel b;
        b.lineBreak();
        b.linkClosed();
        EXPECT_EQ(b.state(), BoardModel::State::Idle);
    }
    {  // closed after a checksum the recorder rejects
        Faults f;
        f.check = Faults::Check::Wrong;
        BoardModel b(f);
        configure(b, k6ch2000);
        b.linkClosed();
        EXPECT_EQ(b.state(), BoardModel::State::Idle);
    }
}

// --- handshake faults --------------------------------------------------------------

TEST(HandshakeFaults, EachIdentificationFaultSendsWhatItSays)
{
    const struct {
        Faults::Ident fault;
        std::string sent;
    } cases[] = {
        {Faults::Ident::Wrong, "KLVDAQ00740019"},
        {Faults::Ident::LowerCase, "klvdaq00730019"},
        {Faults::Ident::Short, "KLVDAQ0073"},
        {Faults::Ident::ZeroByte, std::string("KLVDAQ\0"
                                              "0730019",
                                              14)},
        {Faults::Ident::Extra, "KLVDAQ00730019\r\n"},
    };
    for (const auto& c : cases) {
        Faults f;
        f.ident = c.fault;
        BoardModel b(f);
        b.lineBreak();
        EXPECT_EQ(text(b.takeOutput()), c.sent);
    }
}

TEST(HandshakeFaults, WrongChecksumIsTheComplementAndNoChecksumIsSilence)
{
    Faults wrong;
    wrong.check = Faults::Check::Wrong;
    BoardModel b1(wrong);
    EXPECT_EQ(configure(b1, k6ch2000), std::vector<uint8_t>{0x11});

    Faults none;
    none.check = Faults::Check::None;
    BoardModel b2(none);
    EXPECT_TRUE(configure(b2, k6ch2000).empty());
}

TEST(HandshakeFaults, NoiseWaitsInTheLineBeforeEveryHandshake)
{
    Faults f;
    f.noise = true;
    BoardModel b(f);
    const auto noise = b.takeOutput();
    ASSERT_FALSE(noise.empty());
    EXPECT_NE(text(noise).find("KLV"), std::string::npos)
        << "noise looks like a fragment of the identification";
    b.lineBreak();
    EXPECT_EQ(text(b.takeOutput()), "KLVDAQ00730019");
    b.linkClosed();  // the recorder gave up: the next one finds noise again
    EXPECT_EQ(b.takeOutput(), noise);
}

// --- records -------------------------------------------------------------------------

namespace {

Block blockFor(unsigned channels, bool status)
{
    Block b{};
    b[0] = uint8_t(channels);
    for (unsigned i = 1; i <= channels; ++i)
        b[i] = uint8_t(2 * (channels - i));
    b[9] = 0x80;
    b[10] = b[11] = b[12] = 0xFF;
    b[13] = uint8_t(0x80 | (status ? 0 : 1));
    return b;
}

BoardModel streamingBoard(unsigned channels, bool status, Faults f = {})
{
    BoardModel b(f);
    configure(b, blockFor(channels, status));
    const uint8_t start = kStartByte;
    b.receive(&start, 1);
    return b;
}

}  // namespace

TEST(Records, PackingFollowsTheRecordLayout)
{
    // Three channels: the last one's free high nibble is what the board chooses.
    const uint16_t three[] = {292, 1379, 1930};
    uint8_t out[5];
    packSamples(three, 3, 0x9, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5),
              (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A}));

    const uint16_t six[] = {0, 4095, 2048, 1, 100, 4000};
    uint8_t out6[9];
    packSamples(six, 6, 0, out6);
    EXPECT_EQ(std::vector<uint8_t>(out6, out6 + 9),
              (std::vector<uint8_t>{0x00, 0xF0, 0xFF, 0x80, 0x10, 0x00, 0x06, 0x04, 0xFA}));

    const uint16_t two[] = {2748, 291};
    uint8_t out2[3];
    packSamples(two, 2, 0, out2);
    EXPECT_EQ(std::vector<uint8_t>(out2, out2 + 3), (std::vector<uint8_t>{0xAB, 0x3C, 0x12}));
}

TEST(Records, DecodeToEachChannelsSignalWithCounterAndDigitalLines)
{
    for (unsigned ch = 1; ch <= kMaxChannels; ++ch) {
        for (bool status : {false, true}) {
            SCOPED_TRACE("channels " + std::to_string(ch) + (status ? " with" : " without") +
                         " status");
            BoardModel b = streamingBoard(ch, status);
            const unsigned len = b.config().recLen;
            ASSERT_EQ(len, (3 * ch + 1) / 2 + (status ? 1 : 0));
            const uint64_t n = 300;
            std::vector<uint8_t> out;
            ASSERT_EQ(b.produce(&out, n), n);
            ASSERT_EQ(out.size(), n * len);
            for (uint64_t r = 1; r <= n; ++r) {
                const uint8_t* rec = out.data() + (r - 1) * len;
                for (unsigned c = 0; c < ch; ++c)
                    ASSERT_EQ(decode(rec, c), sampleValue(c, r));
                if (ch % 2 == 1) {
                    ASSERT_NE(rec[3 * (ch / 2) + 1] >> 4, 0) << "the free nibble is used";
                }
                if (status) {
                    const uint8_t s = rec[len - 1];
                    ASSERT_EQ(s & 15, r % 16) << "record " << r;
                    for (unsigned k = 0; k < 4;
                         ++k)  // line k: bit 7-k, toggles every 2^(k+3) records
                        ASSERT_EQ((s >> (7 - k)) & 1, (r >> (k + 3)) & 1) << "line " << k;
                }
                std::vector<uint8_t> one(len);
                b.makeRecord(r, one.data());
                ASSERT_TRUE(std::equal(one.begin(), one.end(), rec));
            }
            EXPECT_EQ(b.recordsSent(), n);
        }
    }
}

TEST(Records, CounterRunsOneToFifteenThenZero)
{
    BoardModel b = streamingBoard(1, true);
    std::vector<uint8_t> out;
    b.produce(&out, 17);
    std::vector<int> counters;
    for (std::size_t i = 2; i < out.size(); i += 3)
        counters.push_back(out[i] & 15);
    EXPECT_EQ(counters,
              (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 1}));
}

TEST(Records, SignalsAreDistinctAndSpanMostOfTheRange)
{
    std::set<std::vector<uint16_t>> shapes;
    for (unsigned c = 0; c < kMaxChannels; ++c) {
        std::vector<uint16_t> v;
        for (uint64_t n = 0; n < kSignalCycle; ++n)
            v.push_back(sampleValue(c, n));
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        EXPECT_LE(*hi, 4095);
        EXPECT_GE(*hi - *lo, 2000) << "channel " << c;
        // Not a constant in disguise: many different values.
        EXPECT_GT(std::set<uint16_t>(v.begin(), v.end()).size(), 20u) << "channel " << c;
        shapes.insert(v);
        // The stream repeats after one cycle, which the generator relies on.
        for (uint64_t n = 0; n < 64; ++n)
            ASSERT_EQ(sampleValue(c, n), sampleValue(c, n + kSignalCycle));
    }
    EXPECT_EQ(shapes.size(), kMaxChannels);
}

TEST(Records, StreamIsTheSameInAnyBatchSize)
{
    BoardModel whole = streamingBoard(5, true);
    std::vector<uint8_t> a;
    whole.produce(&a, kSignalCycle + 500);  // across the end of the cycle
    BoardModel pieces = streamingBoard(5, true);
    std::vector<uint8_t> b;
    for (uint64_t k = 1; b.size() < a.size(); k = k % 97 + 1)
        pieces.produce(&b, std::min<uint64_t>(k, (a.size() - b.size()) / 9));
    EXPECT_EQ(a, b);
}

// --- stream faults ---------------------------------------------------------------------

TEST(StreamFaults, LostRecordsKeepTheirNumbersSoTheCounterJumps)
{
    BoardModel b = streamingBoard(2, true, faultsWith(&Faults::loseRecordEvery, 5));
    std::vector<uint8_t> out;
    EXPECT_EQ(b.produce(&out, 12), 12u);
    EXPECT_EQ(b.recordNumber(), 12u);
    EXPECT_EQ(b.recordsSent(), 10u);
    std::vector<int> counters;
    for (std::size_t i = 3; i < out.size(); i += 4)
        counters.push_back(out[i] & 15);
    EXPECT_EQ(counters, (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 9, 11, 12}));
    EXPECT_TRUE(logHas(b, "lost record 5"));
    EXPECT_TRUE(logHas(b, "lost record 10"));
}

TEST(StreamFaults, ALostByteShiftsEverythingAfterIt)
{
    BoardModel b = streamingBoard(
        2, true, faultsWith(&Faults::loseByteAt, 23));  // third byte of record 6 (4-byte records)
    std::vector<uint8_t> out;
    b.produce(&out, 20);
    BoardModel clean = streamingBoard(2, true);
    std::vector<uint8_t> expect;
    clean.produce(&expect, 20);
    expect.erase(expect.begin() + 22);
    EXPECT_EQ(out, expect);
    EXPECT_TRUE(logHas(b, "lost byte 23 (record 6)"));
}

TEST(StreamFaults, SilenceAndHangUpAfterNRecords)
{
    const struct {
        Faults faults;
        uint64_t records;
        BoardModel::State after;
    } cases[] = {
        {faultsWith(&Faults::silenceAfter, 7), 7, BoardModel::State::Silent},
        {faultsWith(&Faults::hangupAfter, 3), 3, BoardModel::State::HungUp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(stateName(c.after));
        BoardModel b = streamingBoard(3, true, c.faults);
        std::vector<uint8_t> out;
        EXPECT_EQ(b.produce(&out, 2), 2u);
        EXPECT_EQ(b.streaming(), true);
        EXPECT_EQ(b.produce(&out, 100), c.records - 2) << "stops within a batch";
        EXPECT_EQ(b.state(), c.after);
        EXPECT_EQ(out.size(), c.records * 6);
        EXPECT_EQ(b.produce(&out, 100), 0u);
        EXPECT_EQ(b.recordNumber(), c.records);
    }
}

TEST(StreamFaults, RecordsThatNeverArriveStillCount)
{
    BoardModel b = streamingBoard(4, false);
    EXPECT_EQ(b.produce(nullptr, 40), 40u);
    std::vector<uint8_t> out;
    b.produce(&out, 1);
    std::vector<uint8_t> r41(b.config().recLen);
    b.makeRecord(41, r41.data());
    EXPECT_EQ(out, r41);
}

TEST(Log, StaysBoundedWhenNobodyDrainsIt)
{
    Faults f;
    f.loseRecordEvery = 1;  // one log line per record
    BoardModel b = streamingBoard(1, true, f);
    b.produce(nullptr, 50000);
    EXPECT_LE(b.log().size(), 10000u);
    EXPECT_TRUE(logHas(b, "lost record 50000"));
    EXPECT_FALSE(b.takeLog().empty());
    EXPECT_TRUE(b.log().empty());
}

TEST(Records, AGivenStreamTakesThePlaceOfTheSignalsThenTheBoardFallsSilent)
{
    Faults f;
    f.records = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xA1, 0x12, 0x34, 0x56, 0x78, 0xFA, 0xA2, 0x99};
    BoardModel b = streamingBoard(3, true, f);  // 6-byte records: the odd last byte is dropped
    std::vector<uint8_t> out;
    EXPECT_EQ(b.produce(&out, 100), 2u);
    EXPECT_EQ(out, std::vector<uint8_t>(f.records.begin(), f.records.begin() + 12));
    EXPECT_EQ(b.state(), BoardModel::State::Silent);
}

TEST(Records, AStreamShorterThanOneRecordSendsNothing)
{
    Faults f;
    f.records = {0x12, 0x34, 0x56};  // half a record of 3 channels with the status byte
    BoardModel b = streamingBoard(3, true, f);
    std::vector<uint8_t> out;
    EXPECT_EQ(b.produce(&out, 100), 0u);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(b.state(), BoardModel::State::Silent);
    EXPECT_EQ(b.recordsSent(), 0u);
}
