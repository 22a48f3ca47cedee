// The record oracle against worked examples: if it were wrong the way the
// recorder is wrong, the end-to-end comparisons could not see it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "board_model.h"
#include "pty.h"
#include "record_oracle.h"

namespace {

using Bytes = std::vector<unsigned char>;

Panel settings(unsigned channels, unsigned status, unsigned lines = 1, unsigned counter = 1)
{
    Panel p;
    p.num_ch = channels, p.di = status, p.digf = lines, p.rec_c = counter;
    return p;
}

}  // namespace

TEST(RecordOracle, LinesFollowTheRecordLayoutAndTheSwitches)
{
    const Bytes three = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xA1};
    EXPECT_EQ(recordLine(three.data(), settings(3, 1)), "292,1379,1930,1,0,1,0,1");
    EXPECT_EQ(recordLine(three.data(), settings(3, 1, 0)), "292,1379,1930,1");
    EXPECT_EQ(recordLine(three.data(), settings(3, 1, 1, 0)), "292,1379,1930,1,0,1,0");
    EXPECT_EQ(recordValues(three.data(), settings(3, 1, 0, 0)),
              (std::vector<unsigned>{292, 1379, 1930}));

    // Two channels without the status byte, from the ends of the range; a
    // tail shorter than a record gives no line.
    const Bytes two = {0xAB, 0x3C, 0x12, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x42};
    EXPECT_EQ(decode(two, settings(2, 0)),
              (std::vector<std::string>{"2748,291", "4095,4095", "0,0"}));
    EXPECT_EQ(settings(8, 1).recLen(), 13u);
}

TEST(RecordOracle, TheConfigurationBlockIsTheHandshakesWorkedExample)
{
    // 6 channels, 115200 baud, status byte, 2000 us and 1794 us.
    Panel p = settings(6, 1);
    uint8_t block[14];
    configBlock(p, block);
    EXPECT_EQ(Bytes(block, block + 14), (Bytes{0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00, 0x00, 0x00,
                                               0x7B, 0xCE, 0xFF, 0xFF, 0x80}));
    p.SampPer = 1794;
    configBlock(p, block);
    EXPECT_EQ(Bytes(block, block + 14), (Bytes{0x06, 0x0A, 0x08, 0x06, 0x04, 0x02, 0x00, 0x00, 0x00,
                                               0x77, 0xE3, 0xFF, 0xFF, 0x80}));
}

TEST(RecordOracle, TheCycleRepeatsAndADataFileIsCheckedLineForLine)
{
    Panel p = settings(8, 1);
    p.SampPer = 1958;
    const ExpectedCycle cycle(p);
    EXPECT_EQ(cycle.of(1), cycle.of(1 + tarvo::board::kSignalCycle));
    EXPECT_NE(cycle.of(1), cycle.of(2));
    EXPECT_EQ(cycle.of(1).substr(cycle.of(1).rfind(',') + 1), "1");  // the counter of record 1

    TempDir dir;
    const std::string path = dir.file("data.txt");
    {
        std::ofstream f(path, std::ios::binary);
        for (uint64_t n = 1; n <= 20; n++)
            f << cycle.of(n) << "\n";
        f << cycle.of(22) << "\n";       // a record lost: the wrong line, the counter jumps
        f << cycle.of(23).substr(0, 5);  // and a line cut short
    }
    const DataCheck c = checkData(path, cycle);
    EXPECT_EQ(c.lines, 21u);
    EXPECT_EQ(c.firstBad, 21u);
    EXPECT_EQ(c.counterBreaks, 1u);
    EXPECT_TRUE(c.partialLast);
    EXPECT_THROW(checkData(dir.file("no-such-file"), cycle), std::runtime_error);
}
