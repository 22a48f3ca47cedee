// The records of a data file: both formats, the checks of every line, the
// counter's losses, the index built by one thread or several, the min/max
// pyramid against the records themselves, and a file that grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>

#include "pyramid.h"
#include "records.h"
#include "run.h"
#include "temp_dir.h"

using namespace tarvo::recorded;

namespace {

Layout columns(unsigned channels, bool digital = false, bool counter = false)
{
    Layout l;
    l.format = Format::Columns;
    l.channels = channels;
    l.statusByte = digital || counter;
    l.digital = digital;
    l.counter = counter;
    return l;
}

Layout raw(unsigned channels, bool status)
{
    Layout l;
    l.format = Format::Raw;
    l.channels = channels;
    l.statusByte = l.digital = l.counter = status;
    return l;
}

// A record as the board packs it: channels 2m and 2m+1 in bytes 3m..3m+2.
std::string pack(const std::vector<unsigned>& v, int status = -1)
{
    std::string r((3 * v.size() + 1) / 2, '\0');
    for (size_t i = 0; i < v.size(); i++) {
        const size_t m = i / 2;
        if (i % 2 == 0) {
            r[3 * m] = char(v[i] >> 4);
            r[3 * m + 1] = char((r[3 * m + 1] & 0xF0) | (v[i] & 15));
        } else {
            r[3 * m + 1] = char((r[3 * m + 1] & 0x0F) | ((v[i] & 15) << 4));
            r[3 * m + 2] = char(v[i] >> 4);
        }
    }
    if (status >= 0)
        r += char(status);
    return r;
}

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int x : b)
        s += char(x);
    return s;
}

std::vector<unsigned> values(const Record& r, const Layout& l)
{
    std::vector<unsigned> v(r.ch, r.ch + l.channels);
    if (l.digital)
        for (unsigned k = 0; k < 4; k++)
            v.push_back(r.line(k));
    if (l.counter)
        v.push_back(r.counter);
    return v;
}

Records::Options serial()
{
    Records::Options o;
    o.threads = 1;
    return o;
}

// `threads` threads on a file of any size.
Records::Options inThreads(unsigned threads)
{
    Records::Options o;
    o.threads = threads;
    o.parallelFrom = 0;
    return o;
}

// ------------------------------------------------------------- raw records

TEST(RawRecords, DecodeAsTheBoardPacksThem)
{
    // Worked records of the record layout: 3 channels with the status byte,
    // 6 channels with it, 2 channels without.
    const struct {
        Layout layout;
        std::string rec;
        std::vector<unsigned> want;
    } cases[] = {
        {raw(3, true),
         bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xA1}),
         {292, 1379, 1930, 1, 0, 1, 0, 1}},
        {raw(3, true),
         bytes({0x12, 0x34, 0x56, 0x78, 0xFA, 0xA1}),
         {292, 1379, 1930, 1, 0, 1, 0, 1}},
        {raw(6, true),
         bytes({0x00, 0xF0, 0xFF, 0x80, 0x10, 0x00, 0x06, 0x04, 0xFA, 0x5F}),
         {0, 4095, 2048, 1, 100, 4000, 0, 1, 0, 1, 15}},
        {raw(2, false), bytes({0xAB, 0x3C, 0x12}), {2748, 291}},
        {raw(2, false), bytes({0xFF, 0xFF, 0xFF}), {4095, 4095}},
    };
    for (const auto& c : cases) {
        Records rs;
        std::string why;
        ASSERT_TRUE(rs.openBytes(c.rec + c.rec, c.layout, serial(), why)) << why;
        ASSERT_EQ(rs.count(), 2u);
        EXPECT_EQ(rs.tail(), 0u);
        EXPECT_EQ(values(rs.record(1), c.layout), c.want);
        EXPECT_EQ(rs.text(1), c.rec);
    }
}

TEST(RawRecords, BytesAfterTheLastWholeRecordAreItsTail)
{
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes(std::string(10, '\x11'), raw(1, true), serial(), why)) << why;
    EXPECT_EQ(rs.count(), 3u);
    EXPECT_EQ(rs.bytes(), 9u);
    EXPECT_EQ(rs.tail(), 1u);
}

// ---------------------------------------------------------- integer columns

TEST(ColumnRecords, ReadLinesAsTarvoWritesThem)
{
    const Layout l = columns(3, true, true);
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes("292,1379,1930,1,0,1,0,1\r\n0,4095,7,0,0,0,1,15\n", l, serial(), why))
        << why;
    ASSERT_EQ(rs.count(), 2u);
    EXPECT_EQ(values(rs.record(0), l), (std::vector<unsigned>{292, 1379, 1930, 1, 0, 1, 0, 1}));
    EXPECT_EQ(values(rs.record(1), l), (std::vector<unsigned>{0, 4095, 7, 0, 0, 0, 1, 15}));
    EXPECT_EQ(rs.text(0), "292,1379,1930,1,0,1,0,1");
    EXPECT_EQ(rs.offset(1), 25u);
}

TEST(ColumnRecords, ALineThatIsNoRecordStopsTheIndexWithItsLineAndByte)
{
    const struct {
        Layout layout;
        std::string text;
        const char* why;
    } cases[] = {
        {columns(3), "1,2,3\n4,5\n", "line 2 (byte 9): 2 columns, expected 3 columns"},
        {columns(3), "1,2,3,4\n", "line 1 (byte 5): 4 columns, expected 3 columns"},
        {columns(3), "1,2,3\n\n", "line 2 (byte 6): an empty line"},
        {columns(3), "1,2,4096\n", "line 1 (byte 4): channel 3 is 4096, above 4095"},
        {columns(3), "1,02,3\n", "line 1 (byte 2): a value with a leading zero in column 2"},
        {columns(3), "12345,1,1\n",
         "line 1 (byte 0): a value of more than four digits in column 1"},
        {columns(3), "1,,3\n", "line 1 (byte 2): unexpected ',' in column 2"},
        {columns(3), "1, 2,3\n", "line 1 (byte 2): unexpected ' ' in column 2"},
        {columns(3), "1,2,-3\n", "line 1 (byte 4): unexpected '-' in column 3"},
        {columns(3), "1,2,3\r4\n", "line 1 (byte 5): a carriage return inside the line"},
        {columns(3), std::string("1,2,\0\n", 6), "line 1 (byte 4): unexpected 0x00 in column 3"},
        {columns(1, true, true), "5,0,1,0,0,3\n5,0,1,2,0,4\n",
         "line 2 (byte 18): digital line d3 is 2, not 0 or 1"},
        {columns(1, true, true), "5,0,1,0,0,16\n", "line 1 (byte 10): the counter is 16, above 15"},
    };
    for (const auto& c : cases) {
        // Alone, and among whole lines (read many bytes at a time).
        std::string good;
        for (unsigned k = 0; k < c.layout.columns(); k++)
            good += k == 0 ? "4095" : ",1";
        good += "\n";
        std::string before, after;
        for (int i = 0; i < 10; i++)
            before += good, after += good;
        unsigned line = 0, byte = 0;
        ASSERT_EQ(std::sscanf(c.why, "line %u (byte %u)", &line, &byte), 2);
        const std::string rest = std::strchr(c.why, ')');
        const std::string among = "line " + std::to_string(line + 10) + " (byte " +
                                  std::to_string(byte + before.size()) + rest;
        for (unsigned threads : {1u, 2u}) {
            Records rs;
            std::string why;
            EXPECT_FALSE(rs.openBytes(c.text, c.layout, inThreads(threads), why)) << c.text;
            EXPECT_EQ(why, c.why);
            EXPECT_FALSE(rs.openBytes(before + c.text + after, c.layout, inThreads(threads), why))
                << c.text;
            EXPECT_EQ(why, among);
        }
    }
}

TEST(ColumnRecords, ALastLineWithoutItsEndIsTheTail)
{
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes("1,2\n3,4\n5,", columns(2), serial(), why)) << why;
    EXPECT_EQ(rs.count(), 2u);
    EXPECT_EQ(rs.bytes(), 8u);
    EXPECT_EQ(rs.tail(), 2u);
}

// -------------------------------------------------------- the counter's losses

TEST(CounterLosses, TimeSkipsByTheRecordsMissing)
{
    // Counters 14, 15, 0, 2, 3, 6, 7: one record lost before the 4th, two
    // before the 6th; the wrap from 15 to 0 loses nothing.
    const std::string text = "1,14\n1,15\n1,0\n1,2\n1,3\n1,6\n1,7\n";
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes(text, columns(1, false, true), serial(), why)) << why;
    const uint64_t lost[] = {0, 0, 0, 1, 1, 3, 3};
    for (uint64_t i = 0; i < 7; i++)
        EXPECT_EQ(rs.lostBefore(i), lost[i]) << i;
    EXPECT_EQ(rs.lost(), 3u);
    ASSERT_EQ(rs.losses().size(), 2u);
    EXPECT_EQ(rs.losses()[0].record, 3u);
    EXPECT_EQ(rs.losses()[0].missing, 1u);
    EXPECT_EQ(rs.losses()[1].record, 5u);
    EXPECT_EQ(rs.losses()[1].missing, 2u);
}

TEST(CounterLosses, ALossAtTheFirstRecordOfABlockCounts)
{
    // 40 records counting 0..15 over and over, 3 lost before record 32
    // (the first of the index's second block), 1 before record 33.
    std::string text;
    unsigned counter = 0;
    for (int i = 0; i < 40; i++) {
        counter += i == 32 ? 4 : i == 33 ? 2 : 1;
        text += "7," + std::to_string(counter & 15) + "\n";
    }
    for (unsigned threads : {1u, 2u}) {
        Records rs;
        std::string why;
        ASSERT_TRUE(rs.openBytes(text, columns(1, false, true), inThreads(threads), why)) << why;
        EXPECT_EQ(rs.lostBefore(31), 0u);
        EXPECT_EQ(rs.lostBefore(32), 3u);
        EXPECT_EQ(rs.lostBefore(33), 4u);
        EXPECT_EQ(rs.lostBefore(39), 4u);
    }
}

// ------------------------------------------------ one thread or several

// A file of `n` records of 5 channels with digital lines and counter, a
// record lost now and then.
std::string sampleColumns(uint64_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string text;
    unsigned counter = 1;
    for (uint64_t i = 0; i < n; i++) {
        for (int c = 0; c < 5; c++)
            text += std::to_string(rng() % 4096) + ",";
        for (int d = 0; d < 4; d++)
            text += std::to_string(rng() % 2) + ",";
        if (rng() % 50 == 0)
            counter += 1 + rng() % 5;
        text += std::to_string(counter & 15) + (rng() % 7 == 0 ? "\r\n" : "\n");
        counter++;
    }
    return text;
}

TEST(Index, SeveralThreadsIndexAsOneDoes)
{
    const Layout l = columns(5, true, true);
    const std::string text = sampleColumns(5000, 1);
    Records one;
    std::string why;
    ASSERT_TRUE(one.openBytes(text, l, serial(), why)) << why;
    ASSERT_EQ(one.count(), 5000u);
    EXPECT_GT(one.lost(), 0u);
    for (unsigned threads : {2u, 3u, 7u}) {
        Records many;
        ASSERT_TRUE(many.openBytes(text, l, inThreads(threads), why)) << why;
        ASSERT_EQ(many.count(), one.count());
        EXPECT_EQ(many.lost(), one.lost());
        ASSERT_EQ(many.losses().size(), one.losses().size());
        for (size_t k = 0; k < one.losses().size(); k++)
            EXPECT_EQ(many.losses()[k].record, one.losses()[k].record);
        for (unsigned lane = 0; lane < l.lanes(); lane++)
            for (uint64_t b = 0; b < one.blocks(); b++) {
                EXPECT_EQ(many.blockExtents(lane)[b].lo, one.blockExtents(lane)[b].lo);
                EXPECT_EQ(many.blockExtents(lane)[b].hi, one.blockExtents(lane)[b].hi);
            }
        for (uint64_t i = 0; i < one.count(); i += 37) {
            EXPECT_EQ(many.text(i), one.text(i));
            EXPECT_EQ(many.lostBefore(i), one.lostBefore(i));
        }
    }
}

TEST(Index, RawRecordsInSeveralThreads)
{
    std::mt19937 rng(3);
    std::string file;
    for (int i = 0; i < 3001; i++)
        file += pack({unsigned(rng() % 4096), unsigned(rng() % 4096), unsigned(rng() % 4096)},
                     int((rng() % 16) << 4 | (i + 1) % 16));
    Records one, many;
    std::string why;
    ASSERT_TRUE(one.openBytes(file, raw(3, true), serial(), why)) << why;
    ASSERT_TRUE(many.openBytes(file, raw(3, true), inThreads(2), why)) << why;
    ASSERT_EQ(many.count(), 3001u);
    EXPECT_EQ(many.lost(), 0u);
    for (unsigned lane = 0; lane < 4; lane++)
        for (uint64_t b = 0; b < one.blocks(); b++)
            EXPECT_EQ(many.blockExtents(lane)[b].hi, one.blockExtents(lane)[b].hi);
}

TEST(Index, ProgressComesAndCancelStops)
{
    const std::string text = sampleColumns(20000, 2);
    Records rs;
    Records::Options o;
    o.parallelFrom = 0;
    uint64_t last = 0, calls = 0;
    o.progress = [&](uint64_t done, uint64_t total) {
        EXPECT_LE(done, total);
        EXPECT_GE(done, last);
        last = done;
        calls++;
        return true;
    };
    std::string why;
    ASSERT_TRUE(rs.openBytes(text, columns(5, true, true), o, why)) << why;
    EXPECT_GE(calls, 1u);
    EXPECT_EQ(last, text.size());
    o.progress = [](uint64_t, uint64_t) { return false; };
    EXPECT_FALSE(rs.openBytes(text, columns(5, true, true), o, why));
    EXPECT_EQ(why, "cancelled");
}

TEST(Index, HoldsAFewBytesPerBlockOfRecords)
{
    const std::string text = sampleColumns(20000, 4);
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes(text, columns(5, true, true), serial(), why)) << why;
    // Offset and lost count per block, and 6 lanes of min/max: 40 bytes for
    // 32 records of about 30 bytes each.
    EXPECT_LT(rs.memoryBytes(), 2 * 40 * rs.blocks());
    EXPECT_LT(rs.memoryBytes() * 10, text.size());
}

// ------------------------------------------------------------- the pyramid

// One channel whose value is the record number (mod 4096).
std::string ramp(uint64_t n)
{
    std::string t;
    for (uint64_t i = 0; i < n; i++)
        t += std::to_string(i % 4096) + "\n";
    return t;
}

std::vector<std::pair<int, int>> spans(const std::vector<Extent>& cols)
{
    std::vector<std::pair<int, int>> out;
    for (const Extent& e : cols)
        out.emplace_back(e.empty() ? -1 : e.lo, e.empty() ? -1 : e.hi);
    return out;
}

TEST(PyramidTest, WorkedRanges)
{
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes(ramp(64), columns(1), serial(), why)) << why;
    Pyramid p(rs);
    using V = std::vector<std::pair<int, int>>;
    EXPECT_EQ(spans(p.minmax(0, 0, 63, 1)), (V{{0, 63}}));
    EXPECT_EQ(spans(p.minmax(0, 0, 63, 2)), (V{{0, 31}, {32, 63}}));
    EXPECT_EQ(spans(p.minmax(0, 0, 999, 2)), (V{{0, 31}, {32, 63}}));  // cut at the end
    // Zoomed in: the records themselves, 11 in 4 columns.
    EXPECT_EQ(spans(p.minmax(0, 10, 20, 4)), (V{{10, 12}, {13, 15}, {16, 18}, {19, 20}}));
    // Fewer records than columns: columns without one are empty.
    EXPECT_EQ(spans(p.minmax(0, 0, 2, 5)), (V{{0, 0}, {1, 1}, {-1, -1}, {2, 2}, {-1, -1}}));
    EXPECT_EQ(spans(p.minmax(0, 64, 70, 2)), (V{{-1, -1}, {-1, -1}}));
    EXPECT_EQ(spans(p.minmax(1, 0, 63, 1)), (V{{-1, -1}}));  // no such channel
}

TEST(PyramidTest, DigitalLinesAreZeroOrOne)
{
    // d1 set from record 35 on, d4 never.
    std::string t;
    for (int i = 0; i < 40; i++)
        t += "7," + std::string(i >= 35 ? "1" : "0") + ",1,0,0\n";
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes(t, columns(1, true, false), serial(), why)) << why;
    Pyramid p(rs);
    using V = std::vector<std::pair<int, int>>;
    EXPECT_EQ(spans(p.minmax(1, 0, 39, 1)), (V{{0, 1}}));
    EXPECT_EQ(spans(p.minmax(1, 0, 31, 1)), (V{{0, 0}}));
    EXPECT_EQ(spans(p.minmax(2, 0, 39, 1)), (V{{1, 1}}));
    EXPECT_EQ(spans(p.minmax(4, 0, 39, 1)), (V{{0, 0}}));
    EXPECT_EQ(spans(p.minmax(0, 0, 39, 1)), (V{{7, 7}}));
}

// The pyramid against the records: every column's extent holds only values
// of records near its share, and every record's value shows in its column
// or a neighbour; all of them together are exact, and so is every column
// when there are fewer than a block of records to one.
void checkAgainstRecords(const Records& rs, const Pyramid& p, unsigned channel, uint64_t first,
                         uint64_t last, unsigned width)
{
    const auto cols = p.minmax(channel, first, last, width);
    ASSERT_EQ(cols.size(), width);
    const uint64_t n = last - first + 1;
    auto value = [&](uint64_t i) { return rs.record(i).ch[channel]; };
    auto column = [&](uint64_t i) { return uint64_t((i - first) * width / n); };
    Extent all, got;
    for (uint64_t i = first; i <= last; i++)
        all.add(value(i));
    for (const Extent& e : cols)
        if (!e.empty())
            got.add(e);
    EXPECT_EQ(got.lo, all.lo);
    EXPECT_EQ(got.hi, all.hi);
    for (uint64_t i = first; i <= last; i++) {
        const uint64_t x = column(i);
        bool shown = false;
        for (uint64_t y = x == 0 ? 0 : x - 1; y <= std::min<uint64_t>(width - 1, x + 1); y++)
            shown = shown || (!cols[y].empty() && cols[y].lo <= value(i) && value(i) <= cols[y].hi);
        ASSERT_TRUE(shown) << "record " << i << " of " << first << ".." << last << " in " << width;
    }
    const uint64_t span = n / width + 1;
    for (unsigned x = 0; x < width; x++) {
        if (cols[x].empty())
            continue;
        const uint64_t from = first + x * n / width, to = first + (x + 1) * n / width;
        Extent near;
        for (uint64_t i = from > first + span ? from - span : first;
             i < std::min(last + 1, to + span); i++)
            near.add(value(i));
        EXPECT_GE(cols[x].lo, near.lo) << x;
        EXPECT_LE(cols[x].hi, near.hi) << x;
    }
    if (n / width < kBlock) {  // zoomed in: every column exact
        std::vector<Extent> exact(width);
        for (uint64_t i = first; i <= last; i++)
            exact[column(i)].add(value(i));
        for (unsigned x = 0; x < width; x++) {
            EXPECT_EQ(cols[x].lo, exact[x].lo) << x;
            EXPECT_EQ(cols[x].hi, exact[x].hi) << x;
        }
    }
}

TEST(PyramidTest, AgreesWithTheRecordsAtEveryZoom)
{
    std::mt19937_64 rng(5);
    std::string file;
    for (int i = 0; i < 20000; i++) {
        // Noise with rare spikes, which must never disappear.
        const unsigned spike = rng() % 997 == 0 ? 4095 : 0;
        file += pack({unsigned(2000 + rng() % 100) | spike, unsigned(rng() % 4096)}, 0);
    }
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.openBytes(file, raw(2, true), serial(), why)) << why;
    Pyramid p(rs);
    EXPECT_GT(p.levels(), 5u);
    for (int q = 0; q < 60; q++) {
        const uint64_t span = 1 + rng() % (q % 3 == 0 ? 20000 : 2000);
        const uint64_t first = rng() % (20000 - span + 1);
        const unsigned width = 1 + unsigned(rng() % 300);
        checkAgainstRecords(rs, p, unsigned(q % 2), first, first + span - 1, width);
    }
    checkAgainstRecords(rs, p, 0, 0, 19999, 1);
    checkAgainstRecords(rs, p, 0, 0, 19999, 1920);
}

// ------------------------------------------------------- a file that grows

TEST(Growing, RefreshIndexesOnlyWhatWasAddedOnceWhole)
{
    Folder dir;
    const std::string path = dir.write("data.txt", "1,1\n2,2\n3,");
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.open(path, columns(1, false, true), serial(), why)) << why;
    EXPECT_EQ(rs.count(), 2u);
    EXPECT_EQ(rs.tail(), 2u);
    Pyramid p(rs);
    EXPECT_EQ(rs.refresh(why), Records::Growth::None);

    dir.write("data.txt", "5\n4,6\n", true);  // the line completed (a record lost), one more
    ASSERT_EQ(rs.refresh(why), Records::Growth::Added) << why;
    p.update();
    EXPECT_EQ(rs.count(), 4u);
    EXPECT_EQ(rs.tail(), 0u);
    EXPECT_EQ(rs.record(2).ch[0], 3);
    EXPECT_EQ(rs.lostBefore(2), 2u);
    EXPECT_EQ(rs.lostBefore(3), 2u);
    EXPECT_EQ(spans(p.minmax(0, 0, 3, 1)), (std::vector<std::pair<int, int>>{{1, 4}}));

    // Many more: the pyramid takes them in as if built at once.
    std::string more;
    for (int i = 0; i < 3000; i++)
        more += std::to_string((i * 37) % 4096) + "," + std::to_string((7 + i) % 16) + "\n";
    dir.write("data.txt", more, true);
    ASSERT_EQ(rs.refresh(why), Records::Growth::Added) << why;
    p.update();
    checkAgainstRecords(rs, p, 0, 0, rs.count() - 1, 7);
    checkAgainstRecords(rs, p, 0, 100, rs.count() - 1, 3);

    dir.write("data.txt", "9,9,9\n", true);
    EXPECT_EQ(rs.refresh(why), Records::Growth::Failed);
    EXPECT_EQ(why.rfind("line 3005 (byte", 0), 0u) << why;
    EXPECT_EQ(rs.count(), 3004u);
}

TEST(Growing, ANewRunInThePlaceOfTheFileIsTold)
{
    Folder dir;
    const std::string path = dir.write("data.txt", "1\n2\n");
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.open(path, columns(1), serial(), why)) << why;
    // The new run keeps this file under a dated name and starts another;
    // what reached this one meanwhile is still read.
    dir.write("data.txt", "3\n", true);
    std::filesystem::rename(path, dir.file("data-20261207-180233.txt"));
    dir.write("data.txt", "7\n");
    EXPECT_EQ(rs.refresh(why), Records::Growth::Replaced);
    EXPECT_EQ(rs.count(), 3u);
    EXPECT_EQ(rs.record(2).ch[0], 3);
}

}  // namespace
