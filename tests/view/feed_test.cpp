// The hand-off from the sampling thread to the live view, without a window:
// the ring never blocks and never invents or reorders, the chart's feed takes
// records only while a chart is attached, and the status feed reads the run's
// counters and the data file on disk.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "live_feed.h"
#include "options.h"
#include "pty.h"
#include "runtime.h"
#include "spsc_ring.h"

using namespace tarvo::rt;

namespace {

struct Item {
    std::uint64_t n;
    std::uint64_t check;
};

}  // namespace

TEST(Ring, AFullRingDropsTheNewestAndKeepsWhatItHolds)
{
    SpscRing<int, 4> ring;
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(ring.push(i));
    EXPECT_FALSE(ring.push(5));  // dropped, nothing overwritten
    int out[8] = {};
    ASSERT_EQ(ring.pop(out, 2), 2u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_TRUE(ring.push(6));
    EXPECT_TRUE(ring.push(7));
    EXPECT_FALSE(ring.push(8));
    ASSERT_EQ(ring.pop(out, 8), 4u);
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{3, 4, 6, 7}));
    EXPECT_EQ(ring.pop(out, 8), 0u);
}

TEST(Ring, TwoThreadsPassItemsInOrderAndNoneIsInvented)
{
    // A small ring, so that the producer outruns the consumer often.
    static SpscRing<Item, 64> ring;
    constexpr std::uint64_t kItems = 2'000'000;
    std::atomic<bool> done{false};
    std::uint64_t dropped = 0;
    std::thread producer([&] {
        for (std::uint64_t n = 1; n <= kItems; ++n)
            if (!ring.push({n, n * 0x9E3779B97F4A7C15ull}))
                ++dropped;
        done.store(true, std::memory_order_release);
    });
    std::uint64_t received = 0, last = 0;
    bool ordered = true, intact = true;
    Item buf[32];
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        const std::size_t n = ring.pop(buf, 32);
        for (std::size_t i = 0; i < n; ++i) {
            ordered &= buf[i].n > last;
            intact &= buf[i].check == buf[i].n * 0x9E3779B97F4A7C15ull;
            last = buf[i].n;
        }
        received += n;
        if (finished && n == 0)
            break;
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(intact);
    EXPECT_EQ(received + dropped, kItems);
    EXPECT_GT(received, 0u);
}

TEST(ChartFeed, WithoutAChartARunHandsOverNothing)
{
    ChartFeed feed;
    feed.begin(3, 1, 2000);
    const unsigned short values[3] = {1, 2, 3};
    EXPECT_EQ(feed.record(1, values, 0xF1), kChartOff);
    ChartPoint out[4];
    EXPECT_EQ(feed.drain(out, 4), 0u);
    EXPECT_EQ(feed.offered(), 0u);
}

TEST(ChartFeed, AnAttachedChartGetsTheRecordsOfTheCurrentRunAndSetsThePace)
{
    ChartFeed feed;
    feed.attach();
    feed.begin(3, 1, 2000);
    const unsigned short a[3] = {100, 2048, 4095};
    EXPECT_EQ(feed.record(1, a, 0xA1), 0);
    feed.setSkip(9);  // the chart asks for every tenth record
    const unsigned short b[3] = {0, 1, 2};
    EXPECT_EQ(feed.record(2, b, 0x52), 9);

    ChartLayout l = feed.layout();
    EXPECT_EQ(l.channels, 3);
    EXPECT_TRUE(l.digital);
    EXPECT_EQ(l.periodUs, 2000u);
    ChartPoint out[4];
    ASSERT_EQ(feed.drain(out, 4), 2u);
    EXPECT_EQ(out[0].index, 1u);
    EXPECT_EQ(out[0].values[0], 100);
    EXPECT_EQ(out[0].values[1], 2048);
    EXPECT_EQ(out[0].values[2], 4095);
    EXPECT_EQ(out[0].status, 0xA1);
    EXPECT_EQ(out[1].index, 2u);
    EXPECT_EQ(out[1].status, 0x52);
    EXPECT_EQ(out[0].run, l.run);

    // A new run is told apart from the records of the last one.
    feed.begin(8, 0, 311);
    l = feed.layout();
    EXPECT_EQ(l.channels, 8);
    EXPECT_FALSE(l.digital);
    const unsigned short c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    feed.record(1, c, 0);
    ASSERT_EQ(feed.drain(out, 4), 1u);
    EXPECT_EQ(out[0].run, l.run);
    EXPECT_EQ(out[0].values[7], 8);

    feed.detach();
    EXPECT_EQ(feed.record(2, c, 0), kChartOff);
    EXPECT_EQ(feed.drain(out, 4), 0u);
}

TEST(ChartFeed, AChartThatFallsBehindLosesRecordsForTheViewOnly)
{
    ChartFeed feed;
    feed.attach();
    feed.begin(1, 0, 311);
    const unsigned short v[1] = {7};
    const std::size_t n = ChartFeed::kRingSize + 100;
    for (std::size_t i = 1; i <= n; ++i)
        EXPECT_EQ(feed.record(static_cast<unsigned>(i), v, 0), 0);
    EXPECT_EQ(feed.offered(), n);
    EXPECT_EQ(feed.dropped(), 100u);
    std::vector<ChartPoint> out(n);
    ASSERT_EQ(feed.drain(out.data(), n), ChartFeed::kRingSize);
    EXPECT_EQ(out.front().index, 1u);
    EXPECT_EQ(out[ChartFeed::kRingSize - 1].index, ChartFeed::kRingSize);
}

TEST(StatusFeed, FollowsTheCountersAndTheFileOnDisk)
{
    StatusFeed feed;
    EXPECT_EQ(feed.sample().phase, StatusSample::Phase::Idle);

    TempDir dir;
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    std::atomic<unsigned> records{0}, lost{0};
    feed.begin(&records, &lost, "data.txt");
    std::FILE* f = std::fopen("data.txt", "w");
    ASSERT_NE(f, nullptr);
    // The status names the file from where the run began, wherever the
    // process goes next.
    std::filesystem::current_path(here);

    StatusSample s = feed.sample();
    EXPECT_EQ(s.phase, StatusSample::Phase::Running);
    EXPECT_EQ(s.fileName, "data.txt");
    EXPECT_EQ(s.fileBytes, 0);
    records = 1234;
    lost = 3;
    std::fputs("1,2,3\n", f);
    std::fflush(f);
    s = feed.sample();
    EXPECT_EQ(s.records, 1234u);
    EXPECT_EQ(s.lost, 3u);
    EXPECT_EQ(s.fileBytes, 6);

    feed.end();
    records = 9999;  // after the end the counters are still read: Stop may finish a record
    const StatusSample ended = feed.sample();
    EXPECT_EQ(ended.phase, StatusSample::Phase::Ended);
    EXPECT_EQ(ended.records, 9999u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(feed.sample().elapsed, ended.elapsed);  // the clock stopped with the run
    std::fclose(f);

    std::filesystem::remove(dir.file("data.txt"));
    EXPECT_EQ(feed.sample().fileBytes, -1);
}

TEST(Options, NoChartIsAnOptionOfItsOwnAndInTheHelp)
{
    const OptionsResult r =
        parseOptions({"tarvo", "--com", "1=virtual", "--no-chart", "-platform", "offscreen"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.noChart);
    EXPECT_EQ(r.options.com.size(), 1u);
    EXPECT_TRUE(r.options.platformGiven);
    EXPECT_FALSE(parseOptions({"tarvo"}).options.noChart);
    EXPECT_FALSE(parseOptions({"tarvo", "--no-chart=1"}).ok);
    EXPECT_NE(usageText().find("--no-chart"), std::string::npos);
}
