// The record schedule of a paced board: how many records fall due, and when
// a reader's backlog turns into lost records.
#include <gtest/gtest.h>

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
    BoardModel b = streamingBoard(kBlock2000);
    ASSERT_EQ(b.config().recLen, 10u);
    RecordPacer pacer(8 * 1024);
    const auto t0 = RecordPacer::Clock::now();
    pacer.start(t0);
    Bytes line;

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
