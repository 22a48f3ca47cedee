// How reads wait, end, get discarded, cancelled and fail, over a real
// pseudo-terminal. Times are checked only as lower bounds that the layer
// promises (a time-out is not cut short) and generous upper bounds against
// hangs.
#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "serial_fixture.h"

using Clock = std::chrono::steady_clock;

namespace {

void sleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

}  // namespace

TEST_F(PtyPort, ASilentBoardCostsOneReadTimeOut)
{
    ASSERT_EQ(open(), 0);
    // A new port waits the default time-out.
    auto start = Clock::now();
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
    EXPECT_GE(since(start), DEFAULT_COM_TIMEOUT);
    EXPECT_LT(since(start), 3 * DEFAULT_COM_TIMEOUT);

    ASSERT_EQ(SetComTime(kPort, 0.3), 0);
    start = Clock::now();
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
    EXPECT_GE(since(start), 0.3);
    EXPECT_LT(since(start), 0.9);

    // A block read of a silent line ends with a count of 0, not an error.
    uint8_t id[14];
    start = Clock::now();
    EXPECT_EQ(ComRd(kPort, id, 14), 0);
    EXPECT_GE(since(start), 0.3);
    EXPECT_LT(since(start), 0.9);
}

TEST_F(PtyPort, BlockReadEndsAsSoonAsEveryByteHasArrived)
{
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(SetComTime(kPort, 10.0), 0);
    const std::string id = "KLVDAQ00730019";
    std::thread board([&] {
        // The identification in two pieces, as a slow board might send it.
        sleepSeconds(0.1);
        pty.write(std::vector<uint8_t>(id.begin(), id.begin() + 6));
        sleepSeconds(0.1);
        pty.write(std::vector<uint8_t>(id.begin() + 6, id.end()));
    });
    char buf[15] = {};
    const auto start = Clock::now();
    EXPECT_EQ(ComRd(kPort, buf, 14), 14);
    EXPECT_LT(since(start), 5.0);  // far from the 10 s time-out
    board.join();
    EXPECT_STREQ(buf, id.c_str());
}

TEST_F(PtyPort, AShortReplyReturnsWhatCameAfterTheTimeOut)
{
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(SetComTime(kPort, 0.3), 0);
    pty.write({'K', 'L', 'V', 'D', 'A'});
    char buf[15] = {};
    const auto start = Clock::now();
    EXPECT_EQ(ComRd(kPort, buf, 14), 5);
    EXPECT_GE(since(start), 0.3);
    EXPECT_LT(since(start), 0.9);
    EXPECT_STREQ(buf, "KLVDA");
}

TEST_F(PtyPort, ByteAndBlockReadsTakeTurnsWithoutLosingOrRepeatingAByte)
{
    // The handshake reads blocks, the sampling loop single bytes, both from
    // the same read-ahead: whatever one call left there, the next one gets
    // first, across many refills.
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(SetComTime(kPort, 10.0), 0);
    constexpr std::size_t kTotal = 40'000;
    auto pattern = [](std::size_t i) { return static_cast<uint8_t>(i * 13 + i / 256); };
    std::vector<uint8_t> sent(kTotal);
    for (std::size_t i = 0; i < kTotal; ++i)
        sent[i] = pattern(i);
    std::thread board([&] { pty.write(sent); });

    // One turn: a block read of `want` bytes, then three single bytes. False
    // when a read came back short or failed (bytes went missing).
    std::vector<uint8_t> got;
    auto turn = [&](std::size_t want) {
        std::vector<uint8_t> block(want);
        const int n = ComRd(kPort, block.data(), static_cast<int>(want));
        if (n > 0)
            got.insert(got.end(), block.begin(), block.begin() + n);
        if (n != static_cast<int>(want))
            return false;
        for (int k = 0; k < 3 && got.size() < kTotal; ++k) {
            const int b = ComRdByte(kPort);
            if (b < 0)
                return false;
            got.push_back(static_cast<uint8_t>(b));
        }
        return true;
    };
    const std::size_t blocks[] = {1, 14, 700, 4099};
    for (std::size_t i = 0; got.size() < kTotal; ++i)
        if (!turn(std::min(blocks[i % 4], kTotal - got.size())))
            break;
    board.join();
    EXPECT_EQ(got.size(), kTotal);
    EXPECT_TRUE(got == sent) << "the bytes differ from what the board sent";
}

TEST_F(PtyPort, FlushDiscardsWhatWasReceivedButNotRead)
{
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(SetComTime(kPort, 2.0), 0);
    // Noise before the handshake: some of it is taken into the port's own
    // buffer by the first read, the rest waits in the kernel.
    pty.write(std::vector<uint8_t>(100, 0x55));
    ASSERT_EQ(ComRdByte(kPort), 0x55);
    pty.write(std::vector<uint8_t>(100, 0xAA));
    sleepSeconds(0.2);  // let the second burst reach the slave's queue
    ASSERT_EQ(FlushInQ(kPort), 0);
    // The first byte after the flush is the one sent after it.
    pty.write({0x4B});
    EXPECT_EQ(ComRdByte(kPort), 0x4B);
    ASSERT_EQ(SetComTime(kPort, 0.2), 0);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_TIMEOUT);
}

TEST_F(PtyPort, CancelWakesABlockedReadAndKeepsLaterReadsFromWaiting)
{
    ASSERT_EQ(open(), 0);
    auto reader = blockedByteRead(20.0);
    const auto start = Clock::now();
    ASSERT_EQ(CancelComRd(kPort), 0);
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reader.get(), COM_ERR_CANCELLED);
    EXPECT_LT(since(start), 3.0);

    // Even with bytes waiting, until the port is opened again; the bytes are
    // not lost, the port opened again reads them.
    pty.write({1, 2, 3});
    sleepSeconds(0.1);
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_CANCELLED);
    uint8_t buf[4] = {};
    EXPECT_EQ(ComRd(kPort, buf, 3), COM_ERR_CANCELLED);
    ASSERT_EQ(open(), 0);
    pty.write({9});
    EXPECT_EQ(ComRd(kPort, buf, 4), 4);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), (std::vector<uint8_t>{1, 2, 3, 9}));
}

TEST_F(PtyPort, ClosingThePortWhileAnotherThreadReadsEndsThatRead)
{
    // Stop closes the port while the sampling thread may be waiting in a read.
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(SetComTime(kPort, 20.0), 0);
    std::atomic<bool> started{false};
    auto reader = std::async(std::launch::async, [&] {
        started = true;
        int last = 0;
        // The sampling loop keeps calling until it notices the stop.
        for (int i = 0; i < 5; ++i)
            last = ComRdByte(kPort);
        return last;
    });
    while (!started)
        std::this_thread::yield();
    sleepSeconds(0.1);
    const auto start = Clock::now();
    EXPECT_EQ(CloseCom(kPort), 0);
    EXPECT_LT(since(start), 3.0);
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reader.get(), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(kPort), COM_ERR_NOT_OPEN);
}

TEST_F(PtyPort, ABoardThatHangsUpFailsEveryReadAtOnce)
{
    ASSERT_EQ(open(), 0);
    auto reader = blockedByteRead(10.0);
    pty.closeMaster();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reader.get(), COM_ERR_IO);

    // Failed for good: no call waits out the 10 s time-out or spins on the
    // hang-up.
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ComRdByte(kPort), COM_ERR_IO);
    uint8_t buf[4];
    EXPECT_EQ(ComRd(kPort, buf, 4), COM_ERR_IO);
    EXPECT_EQ(ComWrtByte(kPort, 0), COM_ERR_IO);
    EXPECT_LT(since(start), 2.0);
    EXPECT_EQ(CloseCom(kPort), 0);
}

TEST_F(PtyPort, BreakHoldsTheCallerForItsDuration)
{
    ASSERT_EQ(open(), 0);
    const auto start = Clock::now();
    EXPECT_EQ(ComBreak(kPort, 300), 0);  // a pty takes the break and drops it
    EXPECT_GE(since(start), 0.3);
    EXPECT_LT(since(start), 3.0);
    // The line still works afterwards.
    ASSERT_EQ(ComWrtByte(kPort, 0x42), 1);
    EXPECT_EQ(pty.read(1, 5.0), std::vector<uint8_t>{0x42});
}
