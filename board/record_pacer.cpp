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

void RecordPacer::start(Clock::time_point at)
{
    start_ = at;
    lineFree_ = at;
    flight_.clear();
    arrivals_.clear();
    lineLost_ = 0;
}

RecordPacer::Clock::duration RecordPacer::lineTime(long baud, uint64_t bytes, uint32_t bitsPerByte)
{
    // bitsPerByte x 1e9 / baud nanoseconds a byte, rounded down.
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(int64_t(bytes * bitsPerByte * 1'000'000'000ull / uint64_t(baud))));
}

RecordPacer::Clock::time_point RecordPacer::nextDue(std::chrono::nanoseconds period,
                                                    uint64_t made) const
{
    const auto due = start_ + std::chrono::duration_cast<Clock::duration>(period) * int64_t(made);
    return std::min(due, nextArrival());
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
    if (baud_ && model.period().count() > 0) {
        paceLine(model, dueAfter(now - start_, model.period()), limit);
        deliver(model, out, backlog, now);
        return;
    }
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

void RecordPacer::paceLine(BoardModel& model, uint64_t due, uint64_t limit)
{
    const auto period = std::chrono::duration_cast<Clock::duration>(model.period());
    const auto recordTime = lineTime(baud_, model.config().recLen, bits_);
    while (model.streaming() && model.recordNumber() < due && limit > 0) {
        const uint64_t made = model.recordNumber();
        const auto at = start_ + period * int64_t(made);
        if (lineFree_ - at > recordTime) {
            // The wire and the transmitter's record are both taken: the
            // records due before one of them is free are not sent.
            const auto room = lineFree_ - recordTime - start_;
            const uint64_t fits = uint64_t((room + period - Clock::duration(1)) / period);
            const uint64_t lost = model.skip(std::min(std::min(fits, due) - made, limit));
            if (lost && !lineLost_)
                model.note("line full at record " + std::to_string(made + 1) + ": " +
                           std::to_string(baud_ / bits_) +
                           " bytes/s carry no more, the records in between are not sent");
            lineLost_ += lost;
            limit -= lost;
            if (lost == 0)
                break;
            continue;
        }
        const std::size_t before = flight_.size();
        if (model.produce(&flight_, 1) == 0)
            break;
        --limit;
        const std::size_t bytes = flight_.size() - before;
        if (bytes == 0)
            continue;  // a record the board lost: its slot passes with the line idle
        lineFree_ = std::max(lineFree_, at) + lineTime(baud_, bytes, bits_);
        arrivals_.push_back({lineFree_, bytes});
    }
}

void RecordPacer::deliver(BoardModel& model, std::vector<uint8_t>* out, std::size_t backlog,
                          Clock::time_point now)
{
    if (!model.streaming() && model.state() != BoardModel::State::Silent &&
        model.state() != BoardModel::State::HungUp) {
        // A new handshake: what was on the line went with the board's reset.
        flight_.clear();
        arrivals_.clear();
        return;
    }
    std::size_t arrived = 0, bytes = 0;
    while (arrived < arrivals_.size() && arrivals_[arrived].at <= now)
        bytes += arrivals_[arrived++].bytes;
    if (arrived == 0)
        return;
    // The receive queue takes what fits behind the reader's backlog.
    const Share s = share(arrived, backlog, model.config().recLen);
    std::size_t taken = 0;
    for (uint64_t i = 0; i < s.sent; ++i)
        taken += arrivals_[i].bytes;
    if (out)
        out->insert(out->end(), flight_.begin(), flight_.begin() + std::ptrdiff_t(taken));
    flight_.erase(flight_.begin(), flight_.begin() + std::ptrdiff_t(bytes));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + std::ptrdiff_t(arrived));
    if (s.lost) {
        overrun_ += s.lost;
    } else if (overrun_) {
        model.note("overrun: " + std::to_string(overrun_) + " records not delivered");
        overrun_ = 0;
    }
}

}  // namespace tarvo::board
