// The record schedule of a paced board, and what a reader that falls behind
// loses. The start byte anchors the schedule: record n is due at the start
// plus n - 1 periods. Records due but not read yet wait in a receive queue
// of a fixed size; records due beyond what it holds are lost, the oldest
// first, as on a receiver that overruns, and the record counter shows the gap.
// The pacer keeps no clock of its own: its callers pass the time.
//
// With a line rate set, records also cross a line that carries baud/bits
// bytes a second, `bits` the bit times of one byte of its framing (11 on the
// records' 8E1 link: 872 bytes a second at 9600 bit/s). The board's
// transmitter holds one record beside the one on the wire: a record that
// falls due while both are taken is not sent, and the record counter shows
// the gap. A record reaches the reader once its last byte has crossed the
// line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "reccost.h"

namespace tarvo::board {

class BoardModel;

class RecordPacer {
public:
    using Clock = std::chrono::steady_clock;

    // `queueBytes`: how much the receive queue holds.
    explicit RecordPacer(std::size_t queueBytes) : queueBytes_(queueBytes) {}

    // The start byte arrived at `at`: record 1 is due then.
    void start(Clock::time_point at);
    Clock::time_point started() const { return start_; }

    // How many records are due `elapsed` after the start byte: all of them
    // for a period of zero.
    static uint64_t dueAfter(Clock::duration elapsed, std::chrono::nanoseconds period);

    // The line the records cross, in bit/s, and the bit times of one byte
    // on it (see linebits()); a rate of 0 (the default): none, records
    // arrive when due.
    void setLine(long baud, uint32_t bitsPerByte = kLineBitsPerByte)
    {
        baud_ = baud > 0 ? baud : 0;
        bits_ = bitsPerByte > 0 ? bitsPerByte : kLineBitsPerByte;
    }
    long line() const { return baud_; }
    // The time `bytes` take on a line of `baud` bit/s, `bitsPerByte` bit
    // times a byte.
    static Clock::duration lineTime(long baud, uint64_t bytes,
                                    uint32_t bitsPerByte = kLineBitsPerByte);

    // When the next record falls due after the first `made`, or, sooner, the
    // next one on the line arrives.
    Clock::time_point nextDue(std::chrono::nanoseconds period, uint64_t made) const;
    // Records are on the line, not arrived yet; when the first of them arrives
    // (the end of time when none is on the line).
    bool inFlight() const { return !arrivals_.empty(); }
    Clock::time_point nextArrival() const
    {
        return arrivals_.empty() ? Clock::time_point::max() : arrivals_.front().at;
    }

    // Of `due` records of `recordBytes` each, the ones that fit into the queue
    // behind `backlog` unread bytes are sent, the rest are lost.
    struct Share {
        uint64_t sent = 0;
        uint64_t lost = 0;
    };
    Share share(uint64_t due, std::size_t backlog, uint64_t recordBytes) const;

    // Runs a streaming model's stream up to `now`: appends the records due (at most
    // `limit` more) to *out, behind `backlog` unread bytes; those that do not
    // fit pass unsent. The records lost in a row are logged as one overrun
    // once a step loses none.
    void pace(BoardModel& model, std::vector<uint8_t>* out, std::size_t backlog,
              Clock::time_point now, uint64_t limit = std::numeric_limits<uint64_t>::max());

    // Records lost and not logged yet.
    uint64_t overrun() const { return overrun_; }
    void clearOverrun() { overrun_ = 0; }
    // Records the line had no room for since the start byte.
    uint64_t lineLost() const { return lineLost_; }

private:
    void paceLine(BoardModel& model, uint64_t due, uint64_t limit);
    void deliver(BoardModel& model, std::vector<uint8_t>* out, std::size_t backlog,
                 Clock::time_point now);

    struct Arrival {
        Clock::time_point at;  // its last byte is across
        std::size_t bytes;
    };

    std::size_t queueBytes_;
    Clock::time_point start_{};
    uint64_t overrun_ = 0;
    long baud_ = 0;
    uint32_t bits_ = kLineBitsPerByte;
    Clock::time_point lineFree_{};  // the line has sent everything it took
    std::vector<uint8_t> flight_;   // the bytes of the records on the line, in order
    std::deque<Arrival> arrivals_;
    uint64_t lineLost_ = 0;
};

}  // namespace tarvo::board
