// Runs recorded by the real tarvo from tarvo-board, read back: every record
// that tarvo-export writes is the one the board sent, at the time the board
// sent it, across lost records and a silence, in both file formats; and a
// run still being written is followed as it grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "pyramid.h"
#include "recorder.h"
#include "records.h"

namespace {

const unsigned kLoseEvery = 400;

// The board's numbers (from 1) of the records it sent: every one but the
// multiples of kLoseEvery.
std::vector<uint64_t> sentNumbers(size_t count)
{
    std::vector<uint64_t> n;
    for (uint64_t k = 1; n.size() < count; k++)
        if (k % kLoseEvery != 0)
            n.push_back(k);
    return n;
}

// Seconds as tarvo-export writes them.
std::string seconds(uint64_t us)
{
    std::ostringstream s;
    s << us / 1000000;
    if (us % 1000000 != 0) {
        char frac[8];
        std::snprintf(frac, sizeof frac, "%06u", unsigned(us % 1000000));
        std::string f = frac;
        while (f.back() == '0')
            f.pop_back();
        s << "." << f;
    }
    return s.str();
}

ProcResult exportRun(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {binpath("tarvo-export")};
    argv.insert(argv.end(), args.begin(), args.end());
    return Proc(argv).wait(60);
}

// A run of 1000 records with every 400th lost, then silence until Stop.
std::vector<std::string> recordRun(Recording& rec, const Panel& p)
{
    rec.startBoard(
        {"--flood", "--records", "1000", "--lose-record-every", std::to_string(kLoseEvery)});
    ProcResult r = rec.run(p.lines() + "press start\nwait 2\npress stop\n");
    EXPECT_EQ(r.status, 0) << r.err;
    rec.stopBoard();
    return decode(rec.boardDump(), p);
}

void expectExport(Recording& rec, const Panel& p, const std::vector<std::string>& sent,
                  const std::vector<std::string>& options)
{
    const bool raw = p.wfile == 0;
    std::vector<std::string> args = {rec.work()};
    args.insert(args.end(), options.begin(), options.end());
    ProcResult r = exportRun(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> rows = splitlines(r.out);
    ASSERT_FALSE(rows.empty());
    std::string header = "time_s";
    for (unsigned c = 1; c <= p.num_ch; c++)
        header += ",ch" + std::to_string(c);
    const bool digital = p.di && (raw || p.digf), counter = p.di && (raw || p.rec_c);
    header += std::string(digital ? ",d1,d2,d3,d4" : "") + (counter ? ",counter" : "");
    EXPECT_EQ(rows[0], header);
    rows.erase(rows.begin());
    // Every record the board sent and tarvo took (a record begun at Stop
    // may be missing from the end).
    ASSERT_GE(rows.size() + 1, sent.size());
    ASSERT_LE(rows.size(), sent.size());
    Panel all = p;
    if (raw)
        all.digf = all.rec_c = 1;
    const std::vector<std::string> values = decode(rec.boardDump(), all);
    const std::vector<uint64_t> n = sentNumbers(rows.size());
    for (size_t k = 0; k < rows.size(); k++)
        ASSERT_EQ(rows[k], seconds((n[k] - 1) * p.SampPer) + "," + values[k]) << "record " << k;
    // The gaps are where the board lost its records.
    EXPECT_EQ(rows[398].substr(0, rows[398].find(',')), "0.796");
    EXPECT_EQ(rows[399].substr(0, rows[399].find(',')), "0.8");
}

TEST(RecordedRuns, IntegerColumnsExportAsTheBoardSentThem)
{
    Recording rec;
    Panel p;  // 6 channels, status byte, digital lines, counter, 2000 us
    const std::vector<std::string> sent = recordRun(rec, p);
    ASSERT_EQ(sent.size(), 998u);
    expectExport(rec, p, sent, {});
    // --columns gives the recorder's own file back.
    ProcResult r = exportRun({rec.work() + "/data.txt", "--columns"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == rec.data());
}

TEST(RecordedRuns, RawBytesExportAsTheBoardSentThemAndBecomeTarvosColumns)
{
    Recording rec;
    Panel p;
    p.wfile = 0;
    p.digf = 0;  // the columns would hold the counter only
    const std::vector<std::string> sent = recordRun(rec, p);
    expectExport(rec, p, sent, {});
    expectExport(rec, p, sent, {"--status-byte", "1"});
    // The raw capture as the integer columns tarvo would have written.
    ProcResult r = exportRun({rec.work(), "--columns"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = splitlines(r.out);
    const std::vector<std::string> want = decode(rec.boardDump(), p);
    ASSERT_LE(lines.size(), want.size());
    ASSERT_GE(lines.size() + 1, want.size());
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), want.begin()));
    EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), 6);  // 6 channels, the counter
}

TEST(RecordedRuns, WithoutTheCounterInTheFileRunJsonsLossesGiveTheTimes)
{
    Recording rec;
    Panel p;
    p.rec_c = 0;
    const std::vector<std::string> sent = recordRun(rec, p);
    if (!rec.exists("run.json"))
        GTEST_SKIP() << "this recorder writes no run.json: only the counter shows the losses";
    expectExport(rec, p, sent, {});
}

TEST(RecordedRuns, ARunInProgressIsFollowedAsItGrows)
{
    Recording rec;
    rec.startBoard();
    Panel p;  // 2000 us: about 500 records a second
    auto tarvo = rec.spawn(p.lines() + "press start\nwait 4\npress stop\n");
    const std::string path = rec.work() + "/data.txt";
    ASSERT_TRUE(waitUntil([&] { return rec.exists("data.txt") && !rec.data().empty(); }, 30));

    using namespace tarvo::recorded;
    Layout layout;
    layout.channels = p.num_ch;
    layout.statusByte = layout.digital = layout.counter = true;
    Records rs;
    std::string why;
    ASSERT_TRUE(rs.open(path, layout, {}, why)) << why;
    Pyramid pyramid(rs);
    unsigned grew = 0;
    std::vector<uint64_t> counts = {rs.count()};
    // About once a second, as a viewer does, until most of the run is in.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (counts.back() < 1500 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Records::Growth g = rs.refresh(why);
        ASSERT_NE(g, Records::Growth::Failed) << why;
        ASSERT_NE(g, Records::Growth::Shrunk);
        if (g == Records::Growth::Added) {
            pyramid.update();
            grew++;
            counts.push_back(rs.count());
        }
    }
    ProcResult r;
    r = tarvo->wait(60);
    EXPECT_EQ(r.status, 0) << r.err;
    rs.refresh(why);
    pyramid.update();
    rec.stopBoard();
    EXPECT_GE(grew, 3u);
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));

    const std::vector<std::string> lines = splitlines(rec.data());
    ASSERT_EQ(rs.count(), lines.size());
    EXPECT_EQ(rs.tail(), 0u);
    const std::vector<std::string> sent = decode(rec.boardDump(), p);
    ASSERT_GE(sent.size(), lines.size());
    Extent all;
    for (uint64_t i = 0; i < rs.count(); i++) {
        ASSERT_EQ(std::string(rs.text(i)), sent[i]) << i;
        all.add(rs.record(i).ch[2]);
    }
    const auto whole = pyramid.minmax(2, 0, rs.count() - 1, 1);
    EXPECT_EQ(whole[0].lo, all.lo);
    EXPECT_EQ(whole[0].hi, all.hi);
    EXPECT_EQ(rs.lost(), 0u);
}

}  // namespace
