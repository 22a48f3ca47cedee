// A line that trickles is read in batches: how long a read lets bytes gather,
// and, over a real pseudo-terminal, that batching loses, repeats or reorders
// no byte and that a cancel still ends a read on such a line (on Windows
// too, over a COM port).
#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "serial_fixture.h"
#include "serial_gather.h"

using namespace std::chrono_literals;
using tarvo::rt::ReadGathering;

namespace {

// Record-sized bursts, every byte numbered so that a lost, repeated or
// reordered byte shows.
std::vector<std::vector<uint8_t>> bursts(const std::vector<std::size_t>& sizes)
{
    std::vector<std::vector<uint8_t>> out;
    unsigned next = 0;
    for (std::size_t n : sizes) {
        std::vector<uint8_t> b(n);
        for (auto& byte : b)
            byte = static_cast<uint8_t>(next++ * 7 + 3);
        out.push_back(std::move(b));
    }
    return out;
}

}  // namespace

TEST(ReadGathering, TheLongestGatherKeepsTheLineWithinHalfTheKernelQueue)
{
    // 2048 bytes of 10 bits each: 20480 bits, in whole milliseconds.
    const struct {
        long baud;
        long long ms;
    } cases[] = {
        {19200, 40},   {115200, 40},  {460800, 40}, {500000, 40},  {921600, 22},
        {1000000, 20}, {2000000, 10}, {4000000, 5}, {12000000, 1}, {20480000, 1},
        {20480001, 0}, {0, 10},       {-1, 10},
    };
    for (const auto& c : cases) {
        const auto ceiling = ReadGathering::ceilingFor(c.baud);
        EXPECT_EQ(ceiling.count(), c.ms) << c.baud;
        if (c.baud > 0) {
            // Whatever the board sends, a gather lets no more than this come.
            EXPECT_LE(ceiling.count() * c.baud / 10 / 1000, ReadGathering::kSafeBytes) << c.baud;
        }
    }
}

TEST(ReadGathering, ShortWhileAReplyMayComeLongOnceTheLineTrickles)
{
    // Each step: the bytes a read brought after the gather it was given (or
    // a reply awaited: a write, a break or a flush), and the gather the next
    // read makes when it finds nothing.
    constexpr long kReply = -1;
    const struct {
        const char* name;
        long baud;
        std::vector<std::pair<long, long long>> steps;
    } cases[] = {
        {"a new port reads at once", 115200, {}},
        {"records at the board's own pace: short, then steady",
         115200,
         {{13, 10}, {65, 10}, {78, 10}, {65, 40}, {260, 40}, {13, 40}}},
        {"a flood reads at once, and trickles again from the start",
         115200,
         {{13, 10}, {13, 10}, {13, 10}, {13, 40}, {4095, 0}, {255, 10}, {256, 0}}},
        {"after the long gather, the same rate ends the trickle",
         115200,
         {{13, 10}, {65, 10}, {65, 10}, {65, 40}, {1023, 40}, {1024, 0}, {13, 10}}},
        {"a write, a break or a flush: the reply is read at once",
         19200,
         {{14, 10}, {kReply, 0}, {1, 10}, {13, 10}, {13, 10}, {13, 40}, {kReply, 0}}},
        {"a fast line gathers no longer than its ceiling, even at first",
         4000000,
         {{100, 5}, {100, 5}, {100, 5}, {100, 5}, {128, 5}}},
        {"a line too fast for a whole millisecond never gathers",
         30000000,
         {{13, 0}, {13, 0}, {13, 0}, {13, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReadGathering g(c.baud);
        EXPECT_EQ(g.next().count(), 0);
        for (std::size_t i = 0; i < c.steps.size(); i++) {
            const auto [bytes, gather] = c.steps[i];
            if (bytes == kReply)
                g.awaitReply();
            else
                g.read(std::size_t(bytes), g.next());
            EXPECT_EQ(g.next().count(), gather) << "step " << i;
        }
    }
}

TEST_F(PtyPort, BurstsAtALowRateAndAFloodAmongThemArriveWholeAndInOrder)
{
    // A trickle long enough for the steady gather, then a flood far larger
    // than the port's read-ahead, then a trickle again; at rates whose
    // ceilings differ.
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 30; i++)
        sizes.push_back(13 * (1 + i % 5));
    sizes.push_back(200'000);
    for (int i = 0; i < 20; i++)
        sizes.push_back(13 * (1 + i % 3));
    const auto sent = bursts(sizes);
    std::vector<uint8_t> all;
    for (const auto& b : sent)
        all.insert(all.end(), b.begin(), b.end());

#ifdef _WIN32
    // A COM port under wine takes the standard rates.
    const long rates[] = {115200L};
#else
    const long rates[] = {115200L, 921600L, 4000000L};
#endif
    for (long baud : rates) {
        SCOPED_TRACE(baud);
        ASSERT_EQ(open(baud), 0) << tarvo::rt::lastComError(kPort);
        ASSERT_EQ(SetComTime(kPort, 20.0), 0);
        std::atomic<bool> written{false};
        std::thread board([&] {
            for (const auto& b : sent) {
                pty.write(b);
                std::this_thread::sleep_for(3ms);
            }
            written = true;
        });
        std::vector<uint8_t> got;
        got.reserve(all.size());
        // Byte reads for the trickle, as the sampling loop reads, and block
        // reads taking turns with them.
        int failed = 0;
        while (got.size() < all.size() && failed >= 0) {
            if (got.size() % 3 == 0 && all.size() - got.size() >= 100) {
                uint8_t block[100];
                const int n = ComRd(kPort, block, sizeof block);
                failed = n == 100 ? 0 : std::min(n, -1);
                if (n > 0)
                    got.insert(got.end(), block, block + n);
            } else {
                const int b = ComRdByte(kPort);
                failed = std::min(b, 0);
                if (b >= 0)
                    got.push_back(static_cast<uint8_t>(b));
            }
        }
        // After a failed read the board may still be writing into a full
        // line: take what it sends so that it ends.
        SetComTime(kPort, 0.5);
        for (uint8_t rest[4096]; !written;)
            ComRd(kPort, rest, sizeof rest);
        board.join();
        ASSERT_EQ(failed, 0) << "a read failed after " << got.size() << " bytes";
        EXPECT_EQ(got, all);
        ASSERT_EQ(CloseCom(kPort), 0);
    }
}

TEST_F(PtyPort, CancelEndsAReadOnATrickleLineLongBeforeItsTimeOut)
{
    // Bursts read as they come.
    const auto trickle = [&](const std::vector<std::size_t>& sizes) {
        for (const auto& b : bursts(sizes)) {
            pty.write(b);
            for (std::size_t i = 0; i < b.size(); i++)
                ASSERT_EQ(ComRdByte(kPort), b[i]);
        }
    };
    ASSERT_EQ(open(115200), 0);
    ASSERT_EQ(SetComTime(kPort, 60.0), 0);
    ASSERT_NO_FATAL_FAILURE(trickle({13, 13, 26, 13, 39, 13}));
    // The next read gathers, then waits for the silent line: a cancel ends
    // it, wherever it waits.
    for (int attempt = 0; attempt < 2; attempt++) {
        auto reader = std::async(std::launch::async, [] { return ComRdByte(kPort); });
        if (attempt == 1)
            std::this_thread::sleep_for(300ms);  // past the gather, into the wait for the line
        ASSERT_EQ(CancelComRd(kPort), 0);
        ASSERT_EQ(reader.wait_for(30s), std::future_status::ready);
        EXPECT_EQ(reader.get(), COM_ERR_CANCELLED);
        // The port opened again reads on, and trickles again.
        ASSERT_EQ(open(115200), 0);
        ASSERT_EQ(SetComTime(kPort, 60.0), 0);
        pty.write({42});
        EXPECT_EQ(ComRdByte(kPort), 42);
        ASSERT_NO_FATAL_FAILURE(trickle({13, 13, 13, 13, 13}));
    }
}
