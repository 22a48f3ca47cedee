// The sampling function, fed through a real pseudo-terminal: the test holds
// the master side and plays the board, sample() reads the slave side through
// the serial layer and writes data.txt.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <thread>

#include "acquisition.h"
#include "com_table.h"
#include "pty.h"
#include "runtime.h"
#include "state.h"

// No panel in this program: the warnings go nowhere.
#include "../panel/no_panel.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr int kPort = 7;

struct RunSettings {
    unsigned num_ch = 3, di = 1, digf = 1, rec_c = 1, wfile = 1;
};

class Sampling : public ::testing::Test {
protected:
    Pty board;
    TempDir dir;

    void begin(const RunSettings& r, int expected = 1)
    {
        num_ch = r.num_ch;
        di = r.di;
        digf = r.digf;
        rec_c = r.rec_c;
        wfile = r.wfile;
        RecLen = di + (3 * num_ch + 1) / 2;
        SampPer = 2000;
        RecCount = expected;
        tot_data = 0;
        com = kPort;
        tarvo::rt::setComDevice(kPort, board.slavePath());
        ASSERT_EQ(OpenComConfig(kPort, "", 115200, 2, 8, 1, RecLen, RecLen), 0);
        fout = fopen(dir.file("data.txt").c_str(), "wb");
        ASSERT_NE(fout, nullptr);
        stopp = 1;
        functionId = 0;
        ASSERT_EQ(
            CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, sample, nullptr, &functionId),
            0);
    }

    // Waits until the sampling thread has begun record n.
    void begun(unsigned n)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (tot_data.load() < n && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(tot_data.load(), n);
    }

    // Sends the records; the run flag is cleared while the last one is
    // awaited, so sampling ends right after it, as at a Stop.
    std::string record(const std::vector<Bytes>& records)
    {
        for (size_t k = 0; k + 1 < records.size(); k++)
            board.write(records[k]);
        begun(records.size());
        stopp = 0;
        board.write(records.back());
        return finish();
    }

    std::string finish()
    {
        waitsampling();
        CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
        functionId = 0;
        CloseCom(kPort);
        fclose(fout);
        fout = nullptr;
        return lf(readfile(dir.file("data.txt")));
    }

    // The columns with "\n" line ends, the file's being the platform's
    // (LINEEND); raw records come back as they are.
    std::string lf(const std::string& text) const
    {
        if (wfile == 0 || std::string(LINEEND) == "\n")
            return text;
        std::string out;
        for (size_t i = 0; i < text.size(); i++) {
            if (text.compare(i, 2, "\r\n") == 0)
                continue;  // the '\n' follows
            out += text[i];
        }
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
                  std::count(text.begin(), text.end(), '\r'));
        return out;
    }

    void TearDown() override
    {
        if (functionId != 0)
            finish();
        tarvo::rt::clearComDevices();
    }
};

const Bytes kThree = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xA1};

}  // namespace

TEST_F(Sampling, ThreeChannelsWithDigitalLinesAndCounter)
{
    begin({3, 1, 1, 1, 1});
    EXPECT_EQ(record({kThree}), "292,1379,1930,1,0,1,0,1\n");
    EXPECT_EQ(RecCount, 2);
    EXPECT_EQ(tot_data.load(), 1u);
}

TEST_F(Sampling, DigitalLinesAndCounterColumnsFollowTheirFlags)
{
    begin({3, 1, 0, 1, 1});
    EXPECT_EQ(record({kThree}), "292,1379,1930,1\n");
}

TEST_F(Sampling, CounterColumnOffStillTestsTheCounter)
{
    begin({3, 1, 1, 0, 1}, 2);
    EXPECT_EQ(record({kThree}), "292,1379,1930,1,0,1,0\n");
    EXPECT_EQ(RecCount, 3);  // advanced although the test failed
}

TEST_F(Sampling, HighNibbleOfTheLastOddChannelByteIsIgnored)
{
    begin({3, 1, 1, 1, 1});
    Bytes fa = kThree;
    fa[4] = 0xFA;
    EXPECT_EQ(record({fa}), "292,1379,1930,1,0,1,0,1\n");
}

TEST_F(Sampling, TwoChannelsWithoutStatusByte)
{
    begin({2, 0, 1, 1, 1}, 5);
    EXPECT_EQ(record({{0xAB, 0x3C, 0x12}, {0xFF, 0xFF, 0xFF}}), "2748,291\n4095,4095\n");
    EXPECT_EQ(RecCount, 5);  // no counter without a status byte
    EXPECT_EQ(tot_data.load(), 2u);
}

TEST_F(Sampling, SixChannelsCounterWrapsFrom15To0)
{
    begin({6, 1, 1, 1, 1}, 15);
    EXPECT_EQ(record({{0x00, 0xF0, 0xFF, 0x80, 0x10, 0x00, 0x06, 0x04, 0xFA, 0x5F}}),
              "0,4095,2048,1,100,4000,0,1,0,1,15\n");
    EXPECT_EQ(RecCount, 0);
}

TEST_F(Sampling, EveryRecordOfALongStreamIsOneLine)
{
    begin({8, 1, 1, 1, 1});
    std::vector<Bytes> records;
    std::string expected;
    for (unsigned n = 1; n <= 3000; n++) {
        // Channel i of record n holds (n * 7 + i * 500) mod 4096.
        unsigned v[8];
        for (unsigned i = 0; i < 8; i++)
            v[i] = (n * 7 + i * 500) % 4096;
        Bytes r;
        for (unsigned m = 0; m < 4; m++) {
            unsigned a = v[2 * m], b = v[2 * m + 1];
            r.push_back(a >> 4);
            r.push_back(((b & 15) << 4) | (a & 15));
            r.push_back(b >> 4);
        }
        unsigned lines = (n / 3) & 15;
        r.push_back((lines << 4) | (n & 15));
        records.push_back(r);
        for (unsigned i = 0; i < 8; i++)
            expected += (i ? "," : "") + std::to_string(v[i]);
        for (int bit = 3; bit >= 0; bit--)
            expected += (lines >> bit) & 1 ? ",1" : ",0";
        expected += "," + std::to_string(n & 15) + "\n";
    }
    EXPECT_EQ(record(records), expected);
    EXPECT_EQ(tot_data.load(), 3000u);
    EXPECT_EQ(RecCount, 3001 & 15);
}

TEST_F(Sampling, RawBytesAreWrittenAsReceived)
{
    begin({1, 1, 1, 1, 0});
    Bytes all;
    std::vector<Bytes> records;
    for (unsigned n = 1; n <= 300; n++) {
        Bytes r = {(unsigned char)(n * 37), (unsigned char)(n >> 1), (unsigned char)(n & 15)};
        if (n == 10)
            r = {0x0A, 0x0D, 0x0A};  // line ends and a counter that does not match
        if (n == 11)
            r = {0x00, 0x11, (0x13 & 0xF0) | 11};
        records.push_back(r);
        all.insert(all.end(), r.begin(), r.end());
    }
    EXPECT_EQ(record(records), std::string(all.begin(), all.end()));
    EXPECT_EQ(tot_data.load(), 300u);
}

TEST_F(Sampling, FlagClearedBeforeTheStartReadsNothing)
{
    stopp = 0;
    num_ch = 2, di = 0, wfile = 1, RecLen = 3, tot_data = 0, com = kPort;
    tarvo::rt::setComDevice(kPort, board.slavePath());
    ASSERT_EQ(OpenComConfig(kPort, "", 115200, 2, 8, 1, 3, 3), 0);
    fout = fopen(dir.file("data.txt").c_str(), "wb");
    board.write({1, 2, 3});
    EXPECT_EQ(sample(nullptr), 0);
    CloseCom(kPort);
    fclose(fout);
    fout = nullptr;
    EXPECT_EQ(readfile(dir.file("data.txt")), "");
    EXPECT_EQ(tot_data.load(), 0u);
}

TEST_F(Sampling, StopDuringAHalfReceivedRecordCompletesIt)
{
    begin({3, 1, 1, 1, 1});
    board.write({kThree.begin(), kThree.begin() + 3});
    begun(1);
    stopp = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    board.write({kThree.begin() + 3, kThree.end()});
    EXPECT_EQ(finish(), "292,1379,1930,1,0,1,0,1\n");
    EXPECT_EQ(tot_data.load(), 1u);
}

TEST_F(Sampling, StopOnASilentBoardDoesNotHangOrInventBytes)
{
    begin({3, 1, 1, 1, 1});
    board.write(kThree);
    board.write({0x01, 0x02});  // half a record, then nothing
    begun(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stopp = 0;
    auto t0 = std::chrono::steady_clock::now();
    std::string data = finish();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(data, "292,1379,1930,1,0,1,0,1\n");  // the partial record is not made up
    EXPECT_EQ(tot_data.load(), 2u);                // but it was begun
}

TEST_F(Sampling, SilenceLongerThanTheTimeOutIsWaitedOut)
{
    begin({3, 1, 1, 1, 1});
    SetComTime(kPort, 0.2);
    board.write({kThree.begin(), kThree.begin() + 2});
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // several time-outs
    Bytes second = kThree;
    second[5] = 0xA2;
    board.write({kThree.begin() + 2, kThree.end()});
    begun(2);
    stopp = 0;
    board.write(second);
    EXPECT_EQ(finish(), "292,1379,1930,1,0,1,0,1\n292,1379,1930,1,0,1,0,2\n");
}

TEST_F(Sampling, APortThatFailsEndsSamplingAndKeepsTheData)
{
    begin({3, 1, 1, 1, 1});
    board.write(kThree);
    begun(2);
    board.closeMaster();
    // Sampling returns on its own, without the run flag being cleared.
    EXPECT_EQ(CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, functionId, 5.0), 1);
    EXPECT_EQ(stopp.load(), 1);
    EXPECT_EQ(finish(), "292,1379,1930,1,0,1,0,1\n");
}
