// The record schedule of a paced board, and what a reader that falls behind
// loses. The start byte anchors the schedule: record n is due at the start
// plus n - 1 periods. Records due but not read yet wait in a receive queue
// of a fixed size; records due beyond what it holds are lost, the oldest
// first, as on a receiver that overruns, and the record counter shows the gap.
// The pacer keeps no clock of its own: its callers pass the time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarvo::board {

class BoardModel;

class RecordPacer {
public:
    using Clock = std::chrono::steady_clock;

    // `queueBytes`: how much the receive queue holds.
    explicit RecordPacer(std::size_t queueBytes) : queueBytes_(queueBytes) {}

    // The start byte arrived at `at`: record 1 is due then.
    void start(Clock::time_point at) { start_ = at; }
    Clock::time_point started() const { return start_; }

    // How many records are due `elapsed` after the start byte: all of them
    // for a period of zero.
    static uint64_t dueAfter(Clock::duration elapsed, std::chrono::nanoseconds period);

    // When the record after the first `made` falls due.
    Clock::time_point nextDue(std::chrono::nanoseconds period, uint64_t made) const
    {
        return start_ + std::chrono::duration_cast<Clock::duration>(period) * int64_t(made);
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

private:
    std::size_t queueBytes_;
    Clock::time_point start_{};
    uint64_t overrun_ = 0;
};

}  // namespace tarvo::board
