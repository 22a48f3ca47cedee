// The configuration step: settings from the real panel to the configuration
// block, its checksum, the record length and the period check.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "buildconf.h"
#include "panel_env.h"
#include "reccost.h"
#include "state.h"

namespace {

using Block = std::array<unsigned char, 14>;

Block block()
{
    Block b;
    std::memcpy(b.data(), ConfBytes, 14);
    return b;
}

// A computation as the first one after program start: nothing left over in
// the block from an earlier Start.
int firstbuild(const Settings& s)
{
    std::memset(ConfBytes, 0, sizeof ConfBytes);
    chksum = 0;
    putsettings(s);
    return buildconf();
}

Settings six(uint32_t period, uint32_t di = 1) { return {6, 115200, di, period}; }

}  // namespace

TEST(ConfigurationBlock, SixChannelsAt2000usGivesTheKnownBlock)
{
    ASSERT_EQ(firstbuild(six(2000)), 0);
    EXPECT_EQ(block(), (Block{0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00, 0x00, 0x00, 0x7B, 0xCE,
                              0xFF, 0xFF, 0x80}));
    EXPECT_EQ(chksum, 0xEEu);
    EXPECT_EQ(RecLen, 10u);
    EXPECT_EQ(ExecTime, 49u);  // the period count
    EXPECT_EQ(CyEv, 488u);
    EXPECT_EQ(CyOdd, 311u);
    EXPECT_EQ(CyStep, 453u);
    EXPECT_EQ(CyDig, 111u);
}

TEST(ConfigurationBlock, SettingsAreReadFromThePanel)
{
    Settings s{3, 57600, 0, 123456, 0, 1, 0};
    ASSERT_EQ(firstbuild(s), 0);
    EXPECT_EQ(num_ch, 3u);
    EXPECT_EQ(baudr, 57600u);
    EXPECT_EQ(di, 0u);
    EXPECT_EQ(SampPer, 123456u);
    EXPECT_EQ(digf, 0u);
    EXPECT_EQ(rec_c, 1u);
    EXPECT_EQ(wfile, 0u);
}

TEST(ConfigurationBlock, StatusByteOffAt1505us)
{
    ASSERT_EQ(firstbuild(six(1505, 0)), 0);
    Block b = block();
    EXPECT_EQ(b[9], 0x7F);
    EXPECT_EQ(b[10], 0xF4);
    EXPECT_EQ(b[11], 0xFF);
    EXPECT_EQ(b[12], 0xFF);
    EXPECT_EQ(b[13], 0x81);
    EXPECT_EQ(chksum, 0x1Au);
    EXPECT_EQ(RecLen, 9u);
}

TEST(ConfigurationBlock, EightChannelsAt57600AndOneChannelAtAnotherRateForOneSecond)
{
    const struct {
        const char* name;
        Settings settings;
        Block block;
        unsigned chksum, recLen;
    } cases[] = {
        {"8 channels, 57600 baud, 5000 us",
         {8, 57600, 1, 5000},
         {0x08, 0x0E, 0x0C, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00, 0x7F, 0x4D, 0xFF, 0xFF, 0x40},
         0x4D,
         13},
        {"1 channel, 9600 baud, 1 s",
         {1, 9600, 0, 1000000},
         {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x79, 0xA5, 0x79, 0xFE, 0x01},
         0x99,
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(firstbuild(c.settings), 0);
        EXPECT_EQ(block(), c.block);
        EXPECT_EQ(chksum, c.chksum);
        EXPECT_EQ(RecLen, c.recLen);
    }
}

TEST(PeriodCheck, ShorterThanTheRecordCostIsTooShort)
{
    EXPECT_EQ(firstbuild(six(1000)), -1);  // cost 488 + 2 x 453 + 111 = 1505
    EXPECT_EQ(firstbuild(six(1504)), -1);
    EXPECT_EQ(firstbuild(six(0)), -1);
}

TEST(PeriodCheck, EqualToTheRecordCostPasses)
{
    ASSERT_EQ(firstbuild(six(1505)), 0);
    Block b = block();
    EXPECT_EQ(b[9], 0x80);
    EXPECT_EQ(b[10], 0xFF);
    EXPECT_EQ(b[11], 0xFF);
    EXPECT_EQ(b[12], 0xFF);
}

TEST(PeriodCheck, UpperBoundOfThe24BitCount)
{
    ASSERT_EQ(firstbuild(six(167773664)), 0);
    EXPECT_EQ(ExecTime, 0xFFFFFFu);
    Block b = block();
    EXPECT_EQ(b[10], 0x00);
    EXPECT_EQ(b[11], 0x00);
    EXPECT_EQ(b[12], 0x00);
    EXPECT_EQ(firstbuild(six(167773665)), -2);
}

TEST(PeriodCheck, PeriodsNear2To32AreTooLong)
{
    EXPECT_EQ(firstbuild(six(4294967295u)), -2);
    EXPECT_EQ(firstbuild({1, 115200, 0, 4294967295u}), -2);
    EXPECT_EQ(firstbuild({8, 9600, 1, 4294000000u}), -2);
}

TEST(PeriodCheck, SmallestAndLargestRecordCosts)
{
    struct Case {
        Settings s;
        uint32_t cost;
    };
    const Case cases[] = {
        {{1, 115200, 0, 0}, 311},
        {{8, 115200, 1, 0}, 1958},
        {{8, 57600, 1, 0}, 3219},
        {{8, 19200, 1, 0}, 4441},
    };
    for (const Case& k : cases) {
        Settings s = k.s;
        s.SampPer = k.cost;
        EXPECT_EQ(firstbuild(s), 0) << k.cost;
        EXPECT_EQ(ConfBytes[9], 0x80) << k.cost;
        s.SampPer = k.cost - 1;
        EXPECT_EQ(firstbuild(s), -1) << k.cost;
        EXPECT_EQ(reccost(k.s.num_ch, k.s.di, k.s.baudr), k.cost);
    }
}

TEST(PeriodCheck, AFailedCheckLeavesTheTailOfTheBlockAsItWas)
{
    ASSERT_EQ(firstbuild(six(2000)), 0);
    const Block before = block();
    putsettings({4, 57600, 0, 100});
    ASSERT_EQ(buildconf(), -1);
    Block after = block();
    // Rewritten: channel count, entries 1..4, fine delay; kept: 10..13 and the checksum.
    EXPECT_EQ(after[0], 4);
    EXPECT_EQ(after[1], 6);
    EXPECT_EQ(after[4], 0);
    EXPECT_EQ(after[5], before[5]);
    EXPECT_NE(after[9], 0);
    for (int k = 10; k < 14; k++)
        EXPECT_EQ(after[k], before[k]) << k;
    EXPECT_EQ(chksum, 0xEEu);
    EXPECT_EQ(RecLen, 6u);
    EXPECT_EQ(SampPer, 100u);
    EXPECT_EQ(CyEv, 779u);

    putsettings(six(167773665));
    ASSERT_EQ(buildconf(), -2);
    for (int k = 10; k < 14; k++)
        EXPECT_EQ(ConfBytes[k], before[k]) << k;
    EXPECT_EQ(chksum, 0xEEu);
}

TEST(PeriodCheck, SurplusEntriesOfALongerBlockStayAndCount)
{
    std::memset(ConfBytes, 0, sizeof ConfBytes);
    putsettings({8, 115200, 1, 1000});
    ASSERT_EQ(buildconf(), -1);
    putsettings(six(2000));
    ASSERT_EQ(buildconf(), 0);
    EXPECT_EQ(block(), (Block{0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00, 0x02, 0x00, 0x7B, 0xCE,
                              0xFF, 0xFF, 0x80}));
    EXPECT_EQ(chksum, 0xF0u);
}

TEST(RecordLength, ForOneToEightChannels)
{
    const unsigned without[] = {2, 3, 5, 6, 8, 9, 11, 12};
    for (unsigned n = 1; n <= 8; n++) {
        ASSERT_EQ(firstbuild({n, 115200, 0, 100000}), 0);
        EXPECT_EQ(RecLen, without[n - 1]) << n;
        ASSERT_EQ(firstbuild({n, 115200, 1, 100000}), 0);
        EXPECT_EQ(RecLen, without[n - 1] + 1) << n;
        EXPECT_EQ(ConfBytes[0], n);
        for (unsigned i = 1; i <= n; i++)
            EXPECT_EQ(ConfBytes[i], 2 * (n - i));
    }
}

TEST(Checksum, CarryGoesBackIntoBitZero)
{
    const unsigned char exact256[] = {0x80, 0x80};
    EXPECT_EQ(blockchecksum(exact256, 2), 1u);
    const unsigned char plusFF[] = {0x05, 0xFF};
    EXPECT_EQ(blockchecksum(plusFF, 2), 5u);
    const unsigned char all[14] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(blockchecksum(all, 14), 0xFFu);
}

// A byte's bit times by its framing: start bit, data bits, parity bit, stop bits.
TEST(LineFloor, AByteTakesItsStartDataParityAndStopBits)
{
    struct Case {
        uint32_t data;
        bool parity;
        uint32_t stop, bits;
    };
    const Case cases[] = {
        {8, false, 1, 10},  // 8N1, the handshake's link
        {8, true, 1, 11},   // 8E1, the records' link
        {8, true, 2, 12},  {7, true, 1, 10}, {5, false, 1, 7},
    };
    for (const Case& c : cases)
        EXPECT_EQ(linebits(c.data, c.parity, c.stop), c.bits)
            << c.data << (c.parity ? "E" : "N") << c.stop;
    EXPECT_EQ(kLineBitsPerByte, 11u);
}

// The line's own floor: the record's bytes at 11 bit times each (start, 8
// data, even parity, stop), rounded up to a whole microsecond. Where it
// exceeds the table's cost the line, not the board, sets the shortest period.
TEST(LineFloor, TheRecordsBytesAtElevenBitsEachOverTheBaudRate)
{
    struct Case {
        uint32_t ch, di, baud;
        uint32_t bytes, floorUs, costUs;
    };
    const Case cases[] = {
        {6, 1, 9600, 10, 11459, 3415},   // 110 bits / 9600: 11458.3 us, the table 3.4 ms
        {1, 0, 9600, 2, 2292, 693},      // 22 bits: 2291.7 us
        {8, 1, 19200, 13, 7448, 4441},   // 143 bits / 19200: 7447.9 us
        {8, 1, 115200, 13, 1242, 1958},  // 1241.3 us: the table is the tighter
        {2, 0, 38400, 3, 860, 1061},     // 33 bits: 859.375 us
        {8, 0, 57600, 12, 2292, 3011},   // 132 bits: 2291.7 us
        {3, 1, 4000000, 6, 17, 2021},    // 66 bits: 16.5 us
        {3, 1, 1100000, 6, 60, 2021},    // 60 us exactly
        {8, 1, 0, 13, 0, 4441},          // no rate: no floor
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ch << " ch, status " << c.di << ", " << c.baud);
        EXPECT_EQ(reclen(c.ch, c.di), c.bytes);
        EXPECT_EQ(linefloor(c.ch, c.di, c.baud), c.floorUs);
        EXPECT_EQ(reccost(c.ch, c.di, c.baud), c.costUs);
    }
}
