#include "record_pacer.h"

#include <algorithm>
#include <string>

#include "board_model.h"

namespace tarvo::board {

uint64_t RecordPacer::dueAfter(Clock::duration elapsed, std::chrono::nanoseconds period)
{
    if (period.count() <= 0)
        return std::numeric_limits<uint64_t>::max();
    return uint64_t(std::chrono::nanoseconds(elapsed) / period) + 1;
}

RecordPacer::Share RecordPacer::share(uint64_t due, std::size_t backlog, uint64_t recordBytes) const
{
    const uint64_t room = backlog < queueBytes_ ? (queueBytes_ - backlog) / recordBytes : 0;
    if (due <= room)
        return {due, 0};
    return {room, due - room};
}

void RecordPacer::pace(BoardModel& model, std::vector<uint8_t>* out, std::size_t backlog,
                       Clock::time_point now, uint64_t limit)
{
    if (!model.streaming())
        return;
    const uint64_t due = dueAfter(now - start_, model.period());
    const uint64_t made = model.recordNumber();
    const Share s =
        share(std::min(due > made ? due - made : 0, limit), backlog, model.config().recLen);
    if (s.lost) {
        overrun_ += model.produce(nullptr, s.lost);
    } else if (overrun_) {
        model.note("overrun: " + std::to_string(overrun_) + " records not delivered");
        overrun_ = 0;
    }
    model.produce(out, s.sent);
}

}  // namespace tarvo::board
