#include "record_stream.h"

#include <algorithm>

#include "board_model.h"

namespace tarvo::board {

void makeRecord(const BoardConfig& config, uint64_t n, uint8_t* out)
{
    uint16_t v[kMaxChannels];
    for (unsigned c = 0; c < config.channels; ++c)
        v[c] = sampleValue(c, n);
    // A free nibble that is never 0, so a recorder that reads it shows it.
    packSamples(v, config.channels, uint8_t(8 + (n & 7)), out);
    if (config.status)
        out[config.recLen - 1] = statusByte(n);
}

void RecordStream::configure(const BoardConfig& config, Faults* faults)
{
    const std::size_t len = len_ = config.recLen;
    cycle_.resize(kSignalCycle * len);
    for (uint64_t n = 0; n < kSignalCycle; ++n)
        makeRecord(config, n, cycle_.data() + n * len);
    if (!faults->records.empty()) {
        // Record n of the given stream takes the place of record n.
        const uint64_t count = std::min<uint64_t>(faults->records.size() / len, kSignalCycle - 1);
        for (uint64_t n = 1; n <= count; ++n)
            std::copy_n(faults->records.data() + (n - 1) * len, len, cycle_.data() + n * len);
        if (faults->silenceAfter == 0 || faults->silenceAfter > count)
            faults->silenceAfter = count;
        // A stream shorter than one record of this configuration has nothing
        // to send (a silence after 0 records would read as "never silent").
        noRecords_ = count == 0;
    } else {
        noRecords_ = false;
    }
}

void RecordStream::restart()
{
    slot_ = 0;
    recordsSent_ = 0;
    streamPos_ = 0;
    byteLost_ = false;
}

uint64_t RecordStream::produce(std::vector<uint8_t>* out, uint64_t slots, const Faults& f,
                               const Note& note, End* end)
{
    const uint64_t len = len_;
    uint64_t used = 0;
    while (used < slots) {
        const uint64_t n = slot_ + 1;
        if (f.hangupAfter && n > f.hangupAfter) {
            *end = End::HungUp;
            note("hangup after record " + std::to_string(slot_));
            break;
        }
        if (noRecords_ || (f.silenceAfter && n > f.silenceAfter)) {
            *end = End::Silent;
            note("silent after record " + std::to_string(slot_));
            break;
        }
        if (f.loseRecordEvery && n % f.loseRecordEvery == 0) {
            ++slot_;
            ++used;
            note("lost record " + std::to_string(n));
            continue;
        }
        // The longest run of records that needs no special care: contiguous in
        // the cycle, before the next lost record, the end, and the lost byte.
        uint64_t run = std::min(slots - used, kSignalCycle - n % kSignalCycle);
        if (f.loseRecordEvery)
            run = std::min(run, f.loseRecordEvery - n % f.loseRecordEvery);
        if (f.hangupAfter)
            run = std::min(run, f.hangupAfter - n + 1);
        if (f.silenceAfter)
            run = std::min(run, f.silenceAfter - n + 1);
        const uint8_t* rec = cycle_.data() + (n % kSignalCycle) * len;
        if (f.loseByteAt && !byteLost_ && f.loseByteAt > streamPos_) {
            const uint64_t off = f.loseByteAt - 1 - streamPos_;
            if (off < len) {
                if (out) {
                    out->insert(out->end(), rec, rec + off);
                    out->insert(out->end(), rec + off + 1, rec + len);
                }
                byteLost_ = true;
                note("lost byte " + std::to_string(f.loseByteAt) + " (record " + std::to_string(n) +
                     ")");
                ++slot_;
                ++used;
                ++recordsSent_;
                streamPos_ += len;
                continue;
            }
            run = std::min(run, off / len);
        }
        if (out)
            out->insert(out->end(), rec, rec + run * len);
        slot_ += run;
        used += run;
        recordsSent_ += run;
        streamPos_ += run * len;
    }
    return used;
}

uint64_t RecordStream::skip(uint64_t slots, const Faults& f, const Note& note, End* end)
{
    // The last record the stream makes before it hangs up or falls silent.
    uint64_t last = noRecords_ ? 0 : UINT64_MAX;
    if (f.hangupAfter)
        last = std::min(last, f.hangupAfter);
    if (f.silenceAfter)
        last = std::min(last, f.silenceAfter);
    const uint64_t used = std::min(slots, last > slot_ ? last - slot_ : 0);
    slot_ += used;
    // The stream ends at the first slot past its last record, as produce() finds.
    if (used < slots)
        produce(nullptr, 1, f, note, end);
    return used;
}

}  // namespace tarvo::board
