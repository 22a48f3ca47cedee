// The record schedule of a paced board: how many records fall due, and when
// a reader's backlog turns into lost records.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "board_model.h"
#include "board_streams.h"
#include "record_pacer.h"

using namespace std::chrono_literals;
using tarvo::board::BoardModel;
using tarvo::board::RecordPacer;
using Bytes = std::vector<uint8_t>;
using tarvo::board::test::recordBytes;
using tarvo::board::test::streamingBoard;

namespace {

const Bytes kBlock2000 = tarvo::board::test::bytes(tarvo::board::test::k6ch2000);
const Bytes kBlock3420 = tarvo::board::test::bytes(tarvo::board::test::k6ch3420);

// The stream of `block` from t0, on a line of `baud` (0: none); `line` holds
// what has arrived.
struct Paced {
    explicit Paced(const Bytes& block, long baud = 0, const tarvo::board::Faults& faults = {})
        : b(streamingBoard(block, faults))
    {
        pacer.setLine(baud);
        pacer.start(t0);
    }
    void paceTo(std::chrono::nanoseconds t) { pacer.pace(b, &line, 0, t0 + t); }

    BoardModel b;
    RecordPacer pacer{8 * 1024};
    const RecordPacer::Clock::time_point t0 = RecordPacer::Clock::now();
    Bytes line;
};

}  // namespace

TEST(RecordPacer, RecordsFallDueOnePeriodApartFromTheStartByte)
{
    const struct {
        std::chrono::microseconds elapsed, period;
        uint64_t due;
    } cases[] = {
        {0us, 2000us, 1},  // record 1 goes with the start byte
        {1999us, 2000us, 1},
        {2000us, 2000us, 2},
        {1s, 2000us, 501},
        {1s, 422us, 2370},  // 1 channel with status byte at 115200
        {10s, 1s, 11},
        {5s, 0us, std::numeric_limits<uint64_t>::max()},  // no period: everything is due
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.elapsed.count()) + " us at " +
                     std::to_string(c.period.count()));
        EXPECT_EQ(RecordPacer::dueAfter(c.elapsed, c.period), c.due);
    }
}

TEST(RecordPacer, WhatDoesNotFitBehindTheBacklogIsLost)
{
    const RecordPacer pacer(8 * 1024);
    const struct {
        uint64_t due;
        std::size_t backlog;
        uint64_t recordBytes, sent, lost;
    } cases[] = {
        {100, 0, 10, 100, 0},    {819, 0, 10, 819, 0},  // 8,190 of 8,192 bytes
        {820, 0, 10, 819, 1},    {500, 5010, 10, 318, 182},
        {5, 8192, 10, 0, 5},  // a full queue takes nothing
        {5, 9000, 10, 0, 5},  // nor one over full (flood records ahead of it)
        {3000, 0, 3, 2730, 270}, {0, 8192, 10, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.due) + " due behind " + std::to_string(c.backlog));
        const auto share = pacer.share(c.due, c.backlog, c.recordBytes);
        EXPECT_EQ(share.sent, c.sent);
        EXPECT_EQ(share.lost, c.lost);
    }
}

TEST(RecordPacer, AReaderThatFallsBehindLosesTheOldestDueRecordsAndTheOverrunIsLoggedOnce)
{
    Paced s(kBlock2000);
    auto& [b, pacer, t0, line] = s;
    ASSERT_EQ(b.config().recLen, 10u);

    pacer.pace(b, &line, 0, t0);
    EXPECT_EQ(line, recordBytes(b, 1, 1));
    pacer.pace(b, &line, line.size(), t0 + 1s);
    ASSERT_EQ(line.size(), 5010u);
    EXPECT_EQ(b.recordNumber(), 501u);

    // 500 more fall due, room for 318: records 502 to 683 pass unsent.
    pacer.pace(b, &line, line.size(), t0 + 2s);
    EXPECT_EQ(b.recordNumber(), 1001u);
    EXPECT_EQ(pacer.overrun(), 182u);
    ASSERT_EQ(line.size(), 8190u);
    EXPECT_EQ(Bytes(line.begin() + 5010, line.end()), recordBytes(b, 684, 318));
    EXPECT_TRUE(b.log().empty() || b.log().back().rfind("overrun", 0) != 0);

    // The reader caught up: the next step loses nothing and logs the loss.
    line.clear();
    pacer.pace(b, &line, 0, t0 + 2s);
    EXPECT_TRUE(line.empty());
    EXPECT_EQ(b.log().back(), "overrun: 182 records not delivered");
    EXPECT_EQ(pacer.overrun(), 0u);

    // A limit holds back the rest of what is due; the schedule stays.
    pacer.pace(b, &line, 0, t0 + 3s, 7);
    EXPECT_EQ(b.recordNumber(), 1008u);
    EXPECT_EQ(line, recordBytes(b, 1002, 7));
    EXPECT_EQ(pacer.nextDue(b.period(), b.recordNumber()), t0 + 1008 * 2000us);
}

TEST(RecordPacer, NothingIsSentBeforeTheStreamStartsOrAfterItStops)
{
    BoardModel b;
    RecordPacer pacer(8 * 1024);
    const auto t0 = RecordPacer::Clock::now();
    pacer.start(t0);
    Bytes line;
    pacer.pace(b, &line, 0, t0 + 1s);  // idle: no configuration, no records
    EXPECT_TRUE(line.empty());
    EXPECT_EQ(b.recordNumber(), 0u);

    BoardModel h = streamingBoard(
        kBlock2000, tarvo::board::test::faultsWith(&tarvo::board::Faults::hangupAfter, 3));
    pacer.pace(h, &line, 0, t0 + 1s);
    EXPECT_EQ(line, recordBytes(h, 1, 3));
    EXPECT_EQ(h.state(), BoardModel::State::HungUp);
}

// --- the line ----------------------------------------------------------------

namespace {

// The record numbers of records in a row, from their counters (the status
// byte's low nibble), taking every gap as less than 16 records.
std::vector<uint64_t> numbersOf(const Bytes& line, unsigned recLen)
{
    std::vector<uint64_t> n;
    for (std::size_t at = 0; at + recLen <= line.size(); at += recLen) {
        const uint64_t counter = line[at + recLen - 1] & 15u;
        const uint64_t last = n.empty() ? 0 : n.back();
        n.push_back(last + ((counter - last) & 15u ? (counter - last) & 15u : 16));
    }
    return n;
}

}  // namespace

TEST(RecordPacer, ALineCarriesItsBaudRateOverItsBitsPerByteInBytes)
{
    // The records' line (8E1) takes 11 bit times a byte, the handshake's
    // (8N1) 10: bytes x bits x 1e9 / baud ns, rounded down.
    const struct {
        long baud;
        uint64_t bytes;
        uint32_t bits;
        std::chrono::nanoseconds time;
    } cases[] = {
        {9600, 10, 11, 11'458'333ns},  // 110e9 / 9600: 872.7 bytes/s
        {9600, 960, 11, 1'100'000'000ns}, {9600, 960, 10, 1s},
        {19200, 3, 11, 1'718'750ns},      {115200, 10, 11, 954'861ns},
        {57600, 13, 11, 2'482'638ns},     {9600, 10, 10, 10'416'666ns},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes) + " bytes at " + std::to_string(c.baud) + ", " +
                     std::to_string(c.bits) + " bits a byte");
        EXPECT_EQ(RecordPacer::lineTime(c.baud, c.bytes, c.bits), c.time);
        if (c.bits == kLineBitsPerByte) {
            EXPECT_EQ(RecordPacer::lineTime(c.baud, c.bytes), c.time);
        }
    }
}

TEST(RecordPacer, RecordsTheLineCannotCarryAreNotSentAndTheCounterShowsTheGap)
{
    // 10 s of the 3420 us stream, read every millisecond: 2924 records fall
    // due; the line carries baud/11 bytes a second, 10 bytes a record, and
    // never idles while records wait: record k arrives at k x 110 / baud s.
    const struct {
        long baud;
        uint64_t carried;    // records the line carries in 10 s
        uint64_t firstLost;  // the first record with the wire and the transmitter both taken
    } cases[] = {
        {9600, 872, 3},    // 10 s / 11.458 ms: 872.7, 87 of the 292 a second
        {19200, 1745, 4},  // a record takes 5.729 ms: 1745.5 in 10 s
        {38400, 2924, 0},  // 2.865 ms a record, 349 a second: room for every record
        {115200, 2924, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + " bit/s");
        Paced s(kBlock3420, c.baud);
        for (auto t = 1ms; t <= 10s; t += 1ms)
            s.paceTo(t);
        const auto& [b, pacer, t0, line] = s;
        ASSERT_EQ(b.recordNumber(), 2924u);
        const uint64_t received = line.size() / 10;
        // The line is busy to the end: the last record or two are still on it.
        EXPECT_LE(received, c.carried);
        EXPECT_GE(received + 2, c.carried);
        // Every record not received was either lost on the line or is still on it.
        EXPECT_LE(b.recordNumber() - received - pacer.lineLost(), 2u);
        EXPECT_EQ(b.recordsSent(), b.recordNumber() - pacer.lineLost());
        // What arrived is the board's records, in order, with the gaps the
        // counter shows. At 9600 a record takes 3.35 periods: record 2 ends
        // at 22.917 ms, so 3 and 4 (due 6.84 and 10.26 ms) find both taken;
        // 5 (13.68 ms) waits for record 1's slot and ends at 34.375 ms; 6, 7
        // lost; 8 (23.94 ms) ends at 45.833 ms; 9 to 11 lost; 12 (37.62 ms)...
        const auto numbers = numbersOf(line, 10);
        for (std::size_t i = 0; i < numbers.size(); ++i)
            ASSERT_EQ(Bytes(line.begin() + std::ptrdiff_t(10 * i),
                            line.begin() + std::ptrdiff_t(10 * i + 10)),
                      recordBytes(b, numbers[i], 1))
                << "record " << i;
        if (c.baud == 9600) {
            EXPECT_EQ(std::vector<uint64_t>(numbers.begin(), numbers.begin() + 6),
                      (std::vector<uint64_t>{1, 2, 5, 8, 12, 15}));
        }
        const auto noted = std::find_if(b.log().begin(), b.log().end(), [](const std::string& l) {
            return l.rfind("line full at record ", 0) == 0;
        });
        if (c.carried == 2924) {
            EXPECT_EQ(pacer.lineLost(), 0u);
            EXPECT_EQ(noted, b.log().end());
        } else {
            ASSERT_NE(noted, b.log().end());
            EXPECT_EQ(*noted, "line full at record " + std::to_string(c.firstLost) + ": " +
                                  std::to_string(c.baud / 11) +
                                  " bytes/s carry no more, the records in between are not sent");
        }
    }
}

// At 9600 bit/s a record takes 110 bit times, 11.458 ms: record 1 arrives
// then; record 2, due at 3.42 ms, waits behind it and arrives at 22.917 ms;
// 3 and 4 find the line full. A hang-up after record 4 (or the silence after
// it) comes all the same, and records 1 and 2 arrive after it.
TEST(RecordPacer, ARecordArrivesOnceItsLastByteIsAcrossTheLineEvenAfterTheStreamEnds)
{
    ASSERT_EQ(streamingBoard(kBlock3420).config().periodUs, 3420u);
    using tarvo::board::Faults;
    const struct {
        const char* what;
        uint64_t Faults::*endAfter4;
        std::chrono::nanoseconds next;  // the arrival the line waits for after the first step
        // The times paced to, and the records arrived by each.
        std::vector<std::pair<std::chrono::microseconds, uint64_t>> arrived;
    } cases[] = {
        {"no end", nullptr, 11'458'333ns, {{11458us, 0}, {11459us, 1}, {22916us, 1}, {22917us, 2}}},
        {"a hang-up", &Faults::hangupAfter, 22'916'666ns, {{20ms, 1}, {22ms, 1}, {23ms, 2}}},
        {"silence", &Faults::silenceAfter, 22'916'666ns, {{20ms, 1}, {22ms, 1}, {23ms, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Paced s(kBlock3420, 9600,
                c.endAfter4 ? tarvo::board::test::faultsWith(c.endAfter4, 4) : Faults{});
        for (std::size_t i = 0; i < c.arrived.size(); ++i) {
            const auto [t, records] = c.arrived[i];
            s.paceTo(t);
            EXPECT_EQ(s.line, recordBytes(s.b, 1, records)) << t.count() << " us";
            if (i == 0) {
                EXPECT_EQ(s.b.recordNumber(), 4u);
                EXPECT_EQ(s.pacer.lineLost(), 2u);
                EXPECT_EQ(s.b.state() == BoardModel::State::Streaming, !c.endAfter4);
                EXPECT_TRUE(s.pacer.inFlight());
                EXPECT_EQ(s.pacer.nextArrival(), s.t0 + c.next);
            }
        }
        EXPECT_EQ(s.pacer.inFlight(), !c.endAfter4) << "nothing more on the line after the end";
    }
}
