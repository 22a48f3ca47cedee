// The live chart's time columns without Qt or a window: which column a record
// goes into, what a column keeps of its records, what a resize keeps, and the
// pass-over count the measured rate asks for. Worked examples throughout: a
// period of 2000 us and 500 columns over 5 s make 10000 us a column, five
// records each (record i in column (i - 1) / 5).
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

#include "chart_columns.h"

using tarvo::rt::ChartColumn;
using tarvo::rt::ChartColumns;
using tarvo::rt::ChartLayout;
using tarvo::rt::ChartPoint;

namespace {

constexpr ChartLayout kTwoChannels{1, 2, true, 2000};

ChartPoint point(std::uint32_t index, std::uint16_t ch1, std::uint16_t ch2 = 0,
                 std::uint8_t status = 0)
{
    ChartPoint p{};
    p.index = index;
    p.values[0] = ch1;
    p.values[1] = ch2;
    p.values[2] = 4095;  // beyond the layout's channels: never kept
    p.status = status;
    p.run = 1;
    return p;
}

// `window` in s (0: the whole run; left at its default when negative).
ChartColumns columnsOf(const std::vector<ChartPoint>& points, int width = 500, double window = -1)
{
    ChartColumns c;
    if (window >= 0)
        c.setWindow(window);
    c.rebin(width);
    c.restart(kTwoChannels, 0);
    for (const ChartPoint& p : points)
        c.take(p);
    return c;
}

// What a column holds of channel 1 and of the status byte.
struct Kept {
    std::int64_t id;
    std::uint16_t first, lo, hi, last;
    std::uint8_t linesFirst, linesAnd, linesOr, linesLast;
    bool operator==(const Kept&) const = default;
};

void PrintTo(const Kept& k, std::ostream* os)
{
    *os << "column " << k.id << " {" << k.first << ", " << k.lo << ", " << k.hi << ", " << k.last
        << "} lines {" << int(k.linesFirst) << ", " << int(k.linesAnd) << ", " << int(k.linesOr)
        << ", " << int(k.linesLast) << "}";
}

void expectColumn(const ChartColumns& c, const Kept& k)
{
    const ChartColumn* col = c.column(k.id);
    ASSERT_NE(col, nullptr) << "column " << k.id;
    EXPECT_EQ((Kept{col->id, col->first[0], col->lo[0], col->hi[0], col->last[0], col->linesFirst,
                    col->linesLo, col->linesHi, col->linesLast}),
              k);
    EXPECT_EQ(col->first[2], 0) << "a channel the run does not record";
}

// A column whose records all held `v` on channel 1, without lines.
Kept flat(std::int64_t id, std::uint16_t v) { return {id, v, v, v, v, 0, 0, 0, 0}; }

// The columns `got` keeps, those that hold nothing, and its newest.
void expectColumns(const ChartColumns& got, const std::vector<Kept>& kept,
                   const std::vector<std::int64_t>& empty, std::int64_t latest)
{
    for (const Kept& k : kept)
        expectColumn(got, k);
    for (std::int64_t id : empty)
        EXPECT_EQ(got.column(id), nullptr) << "column " << id;
    EXPECT_EQ(got.latest(), latest);
}

}  // namespace

TEST(ChartColumns, EachRecordGoesIntoTheColumnOfItsTime)
{
    const auto expect = [](const char* what, const std::vector<ChartPoint>& points,
                           const std::vector<Kept>& kept, const std::vector<std::int64_t>& empty,
                           std::int64_t latest, std::int64_t oldestChanged,
                           std::uint32_t lastIndex) {
        SCOPED_TRACE(what);
        const ChartColumns got = columnsOf(points);
        expectColumns(got, kept, empty, latest);
        EXPECT_EQ(got.oldestChanged(), oldestChanged);
        EXPECT_EQ(got.lastIndex(), lastIndex);
    };
    expect("one record fills its column", {point(1, 100, 7, 0xF0)},
           {{0, 100, 100, 100, 100, 0xF0, 0xF0, 0xF0, 0xF0}}, {1}, 0, 0, 1);
    expect(
        "a column keeps the first, least, greatest and last of its records, and the AND and "
        "OR of the lines",
        {point(1, 500, 0, 0x80), point(2, 100, 0, 0x40), point(3, 900, 0, 0xC0),
         point(4, 300, 0, 0x00), point(5, 400, 0, 0x10)},
        {{0, 500, 100, 900, 400, 0x80, 0x00, 0xD0, 0x10}}, {1}, 0, 0, 5);
    expect("the sixth record starts the next column", {point(5, 10), point(6, 20)},
           {flat(0, 10), flat(1, 20)}, {2}, 1, 0, 6);
    expect("a lost record leaves its column empty", {point(1, 10), point(11, 30)},
           {flat(0, 10), flat(2, 30)}, {1}, 2, 0, 11);
    expect("a late record still in the window goes into its column", {point(11, 30), point(6, 20)},
           {flat(1, 20), flat(2, 30)}, {0}, 2, 1, 6);
    expect("the newest column takes the slot of the one a window before it",
           {point(1, 10), point(2501, 40)}, {flat(500, 40)}, {0}, 500, 0, 2501);
    expect("a record older than the window is left out",
           {point(2501, 40), point(2, 10), point(6, 20)}, {flat(1, 20), flat(500, 40)}, {0}, 500, 1,
           6);
}

TEST(ChartColumns, TheSecondChannelAndANewRunAreKeptApart)
{
    ChartColumns c = columnsOf({point(1, 100, 3000), point(2, 200, 1000)});
    const ChartColumn* col = c.column(0);
    ASSERT_NE(col, nullptr);
    EXPECT_EQ((std::vector<int>{col->first[1], col->lo[1], col->hi[1], col->last[1]}),
              (std::vector<int>{3000, 1000, 3000, 1000}))
        << "first, least, greatest, last";

    c.clearChanged();
    EXPECT_FALSE(c.changed());
    c.restart({2, 1, false, 1000}, 0);  // 1000 us a record: ten a column
    EXPECT_EQ(c.latest(), -1);
    EXPECT_EQ(c.column(0), nullptr);
    EXPECT_EQ(c.lastIndex(), 0u);
    EXPECT_EQ(c.layout().run, 2u);
    c.take(point(10, 5));
    c.take(point(11, 6));
    EXPECT_TRUE(c.changed());
    expectColumn(c, flat(0, 5));
    expectColumn(c, flat(1, 6));
}

TEST(ChartColumns, AResizeMergesOrSpreadsTheColumnsOverTheSameWindow)
{
    // Columns 0 (records 1-5), 1 (6-10) and 3 (16-20), 10000 us each.
    const std::vector<ChartPoint> points = {point(1, 500, 0, 0x80), point(5, 600, 0, 0x80),
                                            point(6, 100, 0, 0x00), point(10, 300, 0, 0x40),
                                            point(16, 900, 0, 0x10)};
    const auto expect = [&](const char* what, int width, double columnUs,
                            const std::vector<Kept>& kept, const std::vector<std::int64_t>& empty,
                            std::int64_t latest) {
        SCOPED_TRACE(what);
        ChartColumns got = columnsOf(points);
        got.rebin(width);
        EXPECT_EQ(got.width(), width);
        EXPECT_DOUBLE_EQ(got.columnUs(), columnUs);
        expectColumns(got, kept, empty, latest);
        // Records that come next go into the new columns.
        got.take(point(31, 1234));
        expectColumn(got, flat(std::int64_t(30 * 2000 / columnUs), 1234));
    };
    const Kept merged{0, 500, 100, 600, 300, 0x80, 0x00, 0xC0, 0x40};  // columns 0 and 1
    expect("half as many: columns 0 and 1 become 0, column 3 becomes 1", 250, 20000,
           {merged, {1, 900, 900, 900, 900, 0x10, 0x10, 0x10, 0x10}}, {2}, 1);
    expect("twice as many: each column goes to the first of its two", 1000, 5000,
           {{0, 500, 500, 600, 600, 0x80, 0x80, 0x80, 0x80},
            {2, 100, 100, 300, 300, 0x00, 0x00, 0x40, 0x40},
            {6, 900, 900, 900, 900, 0x10, 0x10, 0x10, 0x10}},
           {1, 3, 4, 5}, 6);
    // 166.67 columns' worth stays 10000 * 3 = 30000 us.
    expect("a third as many: columns 0, 1 into 0 and column 3 into 1", 167, 5e6 / 167,
           {merged, {1, 900, 900, 900, 900, 0x10, 0x10, 0x10, 0x10}}, {2}, 1);
    // An empty chart stays empty.
    ChartColumns none = columnsOf({});
    none.rebin(100);
    EXPECT_EQ(none.latest(), -1);
    EXPECT_DOUBLE_EQ(none.columnUs(), 50000);
}

TEST(ChartColumns, TheMeasuredRateSetsHowManyRecordsTheRunPassesOver)
{
    struct Step {
        const char* what;
        std::uint32_t index;  // the newest record taken
        std::int64_t atMs;
        std::optional<int> skip;
    };
    // One chart through a run, each measurement from the one before it; then
    // a new run, measured from its start.
    const Step steps[] = {
        {"under 100 ms since the start: no measurement yet", 9, 99, std::nullopt},
        {"40000 a second: every record", 4000, 100, 0},
        {"40010 a second: every other record", 8001, 200, 1},
        {"80000 a second: still every other record", 16001, 300, 1},
        {"100000 a second: one record in three", 26001, 400, 2},
        {"250 a second: every record again", 26051, 600, 0},
        {"50 ms since the last measurement: none", 40000, 650, std::nullopt},
        {"139490 a second over the 100 ms since it: one in four", 40000, 700, 3},
    };
    ChartColumns c = columnsOf({});
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        c.take(point(s.index, 0));
        EXPECT_EQ(c.skipAt(s.atMs), s.skip);
    }
    c.restart(kTwoChannels, 1000);
    EXPECT_EQ(c.skipAt(1050), std::nullopt);
    c.take(point(5000, 0));
    EXPECT_EQ(c.skipAt(1100), 1);  // 50000 a second, counted from record 0
}

// The wider windows: the same 500 columns over 30 s, 2 min and 10 min; the
// whole run starts at 5 s over 500 columns (10000 us each) and doubles its
// columns whenever a record or the clock goes past its right edge.
TEST(ChartColumns, EachWindowHasItsOwnColumnWidthAndTheWholeRunDoublesAsItGrows)
{
    // A window of `window` s (0: the whole run) takes `points`, then the clock
    // reaches `reachUs` (-1: not moved): its columns' width, how often they
    // doubled, columns it keeps and its newest column.
    const auto expect = [](const char* what, double window, const std::vector<ChartPoint>& points,
                           double reachUs, double columnUs, int coarsenings,
                           const std::vector<Kept>& kept, std::int64_t latest) {
        SCOPED_TRACE(what);
        ChartColumns got = columnsOf(points, 500, window);
        if (reachUs >= 0)
            got.reach(reachUs);
        EXPECT_EQ(got.wholeRun(), window == 0);
        EXPECT_DOUBLE_EQ(got.columnUs(), columnUs);
        EXPECT_EQ(got.coarsenings(), coarsenings);
        expectColumns(got, kept, {}, latest);
        if (coarsenings > 0) {
            EXPECT_EQ(got.oldestChanged(), 0) << "every column moved";
        }
    };
    expect("30 s: 60000 us a column, 30 records each", 30,
           {point(1, 100), point(30, 200), point(31, 300)}, -1, 60000, 0,
           {{0, 100, 100, 200, 200, 0, 0, 0, 0}, flat(1, 300)}, 1);
    expect("10 min: 1.2 s a column, record 601 (1.2 s in) starts the second", 600,
           {point(600, 7), point(601, 8)}, -1, 1.2e6, 0, {flat(0, 7), flat(1, 8)}, 1);
    expect("the whole run within its first 5 s: 10000 us a column", 0,
           {point(1, 10), point(2500, 20)}, -1, 10000, 0, {flat(0, 10), flat(499, 20)}, 499);
    expect("a record at 5 s doubles the columns: neighbours merge", 0,
           {point(1, 500, 0, 0x80), point(5, 100, 0, 0x80), point(6, 900, 0, 0x00),
            point(10, 300, 0, 0x40), point(2501, 40)},
           -1, 20000, 1, {{0, 500, 100, 900, 300, 0x80, 0x00, 0xC0, 0x40}, flat(250, 40)}, 250);
    expect("a record at 25 s doubles them three times at once", 0, {point(1, 10), point(12501, 50)},
           -1, 80000, 3, {flat(0, 10), flat(312, 50)}, 312);
    expect("a silent board: the clock at 20 s doubles them too", 0, {point(1, 10), point(6, 20)},
           20e6, 80000, 3, {{0, 10, 10, 20, 20, 0, 0, 0, 0}}, 0);
    expect("the clock does not change a window's columns", 30, {point(1, 10)}, 600e6, 60000, 0,
           {flat(0, 10)}, 0);
}

TEST(ChartColumns, AResizeOfTheWholeRunKeepsTheNarrowestDoublingThatHoldsIt)
{
    // 5.02 s of run at 20000 us a column over 500 columns.
    ChartColumns c = columnsOf({point(1, 10), point(2501, 40)}, 500, 0);
    ASSERT_DOUBLE_EQ(c.columnUs(), 20000);
    struct Case {
        int width;
        double columnUs;
        std::int64_t newest;
    };
    // 1000 columns: 5000 us would hold 5 s only, 10000 us holds it;
    // 250 columns: 20000 us holds 5 s only, 40000 us holds it.
    const Case cases[] = {{1000, 10000, 500}, {250, 40000, 125}, {500, 20000, 250}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.width << " columns");
        c.rebin(k.width);
        EXPECT_DOUBLE_EQ(c.columnUs(), k.columnUs);
        EXPECT_EQ(c.latest(), k.newest);
        expectColumn(c, flat(k.newest, 40));
        expectColumn(c, flat(0, 10));
    }
    // A new run starts again at 5 s.
    c.restart(kTwoChannels, 0);
    EXPECT_DOUBLE_EQ(c.columnUs(), 10000);
    EXPECT_EQ(c.coarsenings(), 0);
}

// The chart's right edge: the newest record's time moved on by the clock
// since it came, never back when records come late.
TEST(RunClock, TheNewestRecordMovedOnByTheClockNeverBack)
{
    tarvo::rt::RunClock clock;
    EXPECT_EQ(clock.nowUs(500), -1) << "no record yet";
    struct Step {
        const char* what;
        double recordUs;  // -1: no record this step
        std::int64_t atMs;
        double nowUs;
    };
    const Step steps[] = {
        {"the first record is now", 0, 1000, 0},
        {"half a second of silence", -1, 1500, 500000},
        {"records that came late do not move it back", 400000, 1600, 500000},
        {"it goes on from them once the clock passes the time shown", -1, 1800, 600000},
        {"then goes on from them", -1, 2000, 800000},
        {"an older record changes nothing", 300000, 2100, 900000},
        {"records ahead of it move it on", 1500000, 2100, 1500000},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.recordUs >= 0)
            clock.record(s.recordUs, s.atMs);
        EXPECT_DOUBLE_EQ(clock.nowUs(s.atMs), s.nowUs);
    }
}
