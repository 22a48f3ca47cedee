// The live chart's time columns without Qt or a window: which column a record
// goes into, what a column keeps of its records, what a resize keeps, and the
// pass-over count the measured rate asks for. Worked examples throughout: a
// period of 2000 us and 500 columns over 5 s make 10000 us a column, five
// records each (record i in column (i - 1) / 5).
#include <gtest/gtest.h>

#include <optional>
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

ChartColumns columnsOf(const std::vector<ChartPoint>& points, int width = 500)
{
    ChartColumns c;
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
};

void expectColumn(const ChartColumns& c, const Kept& k)
{
    const ChartColumn* col = c.column(k.id);
    ASSERT_NE(col, nullptr) << "column " << k.id;
    EXPECT_EQ(col->id, k.id);
    EXPECT_EQ(col->first[0], k.first) << "column " << k.id;
    EXPECT_EQ(col->lo[0], k.lo) << "column " << k.id;
    EXPECT_EQ(col->hi[0], k.hi) << "column " << k.id;
    EXPECT_EQ(col->last[0], k.last) << "column " << k.id;
    EXPECT_EQ(col->linesFirst, k.linesFirst) << "column " << k.id;
    EXPECT_EQ(col->linesLo, k.linesAnd) << "column " << k.id;
    EXPECT_EQ(col->linesHi, k.linesOr) << "column " << k.id;
    EXPECT_EQ(col->linesLast, k.linesLast) << "column " << k.id;
    EXPECT_EQ(col->first[2], 0) << "a channel the run does not record";
}

}  // namespace

TEST(ChartColumns, EachRecordGoesIntoTheColumnOfItsTime)
{
    struct Case {
        const char* what;
        std::vector<ChartPoint> points;
        std::vector<Kept> kept;
        std::vector<std::int64_t> empty;  // columns that hold nothing
        std::int64_t latest, oldestChanged;
        std::uint32_t lastIndex;
    };
    const Case cases[] = {
        {"one record fills its column",
         {point(1, 100, 7, 0xF0)},
         {{0, 100, 100, 100, 100, 0xF0, 0xF0, 0xF0, 0xF0}},
         {1},
         0,
         0,
         1},
        {"a column keeps the first, least, greatest and last of its records, and the AND and OR of the lines",
         {point(1, 500, 0, 0x80), point(2, 100, 0, 0x40), point(3, 900, 0, 0xC0),
          point(4, 300, 0, 0x00), point(5, 400, 0, 0x10)},
         {{0, 500, 100, 900, 400, 0x80, 0x00, 0xD0, 0x10}},
         {1},
         0,
         0,
         5},
        {"the sixth record starts the next column",
         {point(5, 10), point(6, 20)},
         {{0, 10, 10, 10, 10, 0, 0, 0, 0}, {1, 20, 20, 20, 20, 0, 0, 0, 0}},
         {2},
         1,
         0,
         6},
        {"a lost record leaves its column empty",
         {point(1, 10), point(11, 30)},
         {{0, 10, 10, 10, 10, 0, 0, 0, 0}, {2, 30, 30, 30, 30, 0, 0, 0, 0}},
         {1},
         2,
         0,
         11},
        {"a late record still in the window goes into its column",
         {point(11, 30), point(6, 20)},
         {{1, 20, 20, 20, 20, 0, 0, 0, 0}, {2, 30, 30, 30, 30, 0, 0, 0, 0}},
         {0},
         2,
         1,
         6},
        {"the newest column takes the slot of the one a window before it",
         {point(1, 10), point(2501, 40)},
         {{500, 40, 40, 40, 40, 0, 0, 0, 0}},
         {0},
         500,
         0,
         2501},
        {"a record older than the window is left out",
         {point(2501, 40), point(2, 10), point(6, 20)},
         {{1, 20, 20, 20, 20, 0, 0, 0, 0}, {500, 40, 40, 40, 40, 0, 0, 0, 0}},
         {0},
         500,
         1,
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ChartColumns got = columnsOf(c.points);
        for (const Kept& k : c.kept)
            expectColumn(got, k);
        for (std::int64_t id : c.empty)
            EXPECT_EQ(got.column(id), nullptr) << "column " << id;
        EXPECT_EQ(got.latest(), c.latest);
        EXPECT_EQ(got.oldestChanged(), c.oldestChanged);
        EXPECT_EQ(got.lastIndex(), c.lastIndex);
    }
}

TEST(ChartColumns, TheSecondChannelAndANewRunAreKeptApart)
{
    ChartColumns c = columnsOf({point(1, 100, 3000), point(2, 200, 1000)});
    const ChartColumn* col = c.column(0);
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->first[1], 3000);
    EXPECT_EQ(col->lo[1], 1000);
    EXPECT_EQ(col->hi[1], 3000);
    EXPECT_EQ(col->last[1], 1000);

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
    expectColumn(c, {0, 5, 5, 5, 5, 0, 0, 0, 0});
    expectColumn(c, {1, 6, 6, 6, 6, 0, 0, 0, 0});
}

TEST(ChartColumns, AResizeMergesOrSpreadsTheColumnsOverTheSameWindow)
{
    // Columns 0 (records 1-5), 1 (6-10) and 3 (16-20), 10000 us each.
    const std::vector<ChartPoint> points = {point(1, 500, 0, 0x80), point(5, 600, 0, 0x80),
                                            point(6, 100, 0, 0x00), point(10, 300, 0, 0x40),
                                            point(16, 900, 0, 0x10)};
    struct Case {
        int width;
        double columnUs;
        std::vector<Kept> kept;
        std::vector<std::int64_t> empty;
        std::int64_t latest;
    };
    const Case cases[] = {
        // Half as many: columns 0 and 1 become 0, column 3 becomes 1.
        {250,
         20000,
         {{0, 500, 100, 600, 300, 0x80, 0x00, 0xC0, 0x40},
          {1, 900, 900, 900, 900, 0x10, 0x10, 0x10, 0x10}},
         {2},
         1},
        // Twice as many: each column goes to the first of its two.
        {1000,
         5000,
         {{0, 500, 500, 600, 600, 0x80, 0x80, 0x80, 0x80},
          {2, 100, 100, 300, 300, 0x00, 0x00, 0x40, 0x40},
          {6, 900, 900, 900, 900, 0x10, 0x10, 0x10, 0x10}},
         {1, 3, 4, 5},
         6},
        // A third as many (166.67 columns' worth stays 10000 * 3 = 30000 us):
        // columns 0, 1 into 0 and column 3 into 1.
        {167,
         5e6 / 167,
         {{0, 500, 100, 600, 300, 0x80, 0x00, 0xC0, 0x40},
          {1, 900, 900, 900, 900, 0x10, 0x10, 0x10, 0x10}},
         {2},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "to " << c.width << " columns");
        ChartColumns got = columnsOf(points);
        got.rebin(c.width);
        EXPECT_EQ(got.width(), c.width);
        EXPECT_DOUBLE_EQ(got.columnUs(), c.columnUs);
        for (const Kept& k : c.kept)
            expectColumn(got, k);
        for (std::int64_t id : c.empty)
            EXPECT_EQ(got.column(id), nullptr) << "column " << id;
        EXPECT_EQ(got.latest(), c.latest);
        // Records that come next go into the new columns.
        got.take(point(31, 1234));
        expectColumn(got,
                     {std::int64_t(30 * 2000 / c.columnUs), 1234, 1234, 1234, 1234, 0, 0, 0, 0});
    }
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
