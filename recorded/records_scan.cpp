#include "records_scan.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "column_line.h"

namespace tarvo::recorded::scan {

uint64_t countLines(const char* p, const char* end, Pass& pass, Releaser& rel, const char* base)
{
    uint64_t n = 0;
    constexpr uint64_t ones = 0x0101010101010101ull, nl = ones * '\n', low7 = ones * 0x7F;
    while (p < end) {
        const char* stop = end - p > int64_t(kStep) ? p + kStep : end;
#if defined(__SSE2__)
        // Sixteen bytes at a time: each line end adds one to its byte's count
        // (at most 255 rounds), then the counts are summed.
        const __m128i nl16 = _mm_set1_epi8('\n');
        while (stop - p >= 16) {
            __m128i counts = _mm_setzero_si128();
            for (int round = 0; round < 255 && stop - p >= 16; round++, p += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, nl16));
            }
            const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
            n += uint64_t(_mm_cvtsi128_si32(sums)) +
                 uint64_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
        }
#endif
        while (stop - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t x = w ^ nl;  // a zero byte where there was a line end
            const uint64_t t = ((x & low7) + low7) | x;
            // One bit 7 per zero byte; the multiply adds them up in the top byte.
            n += (((~t & (ones << 7)) >> 7) * ones) >> 56;
            p += 8;
        }
        while (p < stop)
            n += *p++ == '\n';
        rel.at(uint64_t(p - base));
        if (pass.cancel.load(std::memory_order_relaxed))
            break;
    }
    return n;
}

namespace {

// The block under way in a chunk, lane by lane.
struct Blocks {
    unsigned lanes;
    Extent cur[9];
    void add(const Record& r, const Layout& l)
    {
        for (unsigned c = 0; c < l.channels; c++)
            cur[c].add(r.ch[c]);
        if (l.digital) {
            Extent& d = cur[l.channels];
            d.lo &= r.digital;  // starts at 0xFFFF: AND of every record's lines
            d.hi |= r.digital;
        }
    }
    void push(Records::Chunk& c)
    {
        for (unsigned k = 0; k < lanes; k++) {
            c.extents[k].push_back(cur[k]);
            cur[k] = Extent{};
        }
    }
};

// The record counter through one chunk: the records missing between two
// received ones, and the count lost before each block's first record (its
// own gap included).
struct CounterTrack {
    int prev = -1;
    uint64_t lost = 0;

    void see(Records::Chunk& c, uint64_t idx, unsigned counter)
    {
        if (prev >= 0) {
            const unsigned gap = counterGap(unsigned(prev), counter);
            if (gap != 0) {
                lost += gap;
                addLoss(c.losses, c.lossesDropped, idx, gap);
            }
        } else {
            c.firstCounter = int(counter);
        }
        prev = int(counter);
        if (idx % kBlock == 0)
            c.skips.push_back(lost);
    }
};

// What the records of one chunk add up to as they are read, one after
// another: the counter's losses and the min/max of each block.
class Tally {
public:
    Tally(const Pass& pass, Records::Chunk& c)
        : layout_(pass.layout), extents_(pass.extents), c_(c), blocks_{layout_.lanes(), {}}
    {
        c.extents.assign(extents_ ? layout_.lanes() : 0, {});
    }
    // Record number `idx` of the file.
    void take(const Record& r, uint64_t idx)
    {
        if (layout_.counter)
            counters_.see(c_, idx, r.counter);
        if (extents_) {
            blocks_.add(r, layout_);
            if ((idx + 1) % kBlock == 0)
                blocks_.push(c_);
        }
    }
    // After the last record: `end` is the number of the record after it.
    void finish(uint64_t end)
    {
        if (extents_ && end % kBlock != 0 && end > c_.firstRecord)
            blocks_.push(c_);
        c_.lastCounter = counters_.prev;
        c_.lost = counters_.lost;
    }

private:
    const Layout& layout_;
    const bool extents_;
    Records::Chunk& c_;
    Blocks blocks_;
    CounterTrack counters_;
};

}  // namespace

void scanColumns(Pass& pass, Records::Chunk& c)
{
    const Layout& l = pass.layout;
    const char* base = pass.data;
    const char* p = base + c.from;
    const char* end = base + c.to;  // end[-1] is a line end
    // Eight bytes can be read at once up to `fast`.
    const bool wide = pass.size >= 8;
    const char* fast = base + (wide ? pass.size - 8 : 0);
    // A whole line at once up to `fastLines`.
    const bool lines = pass.size >= 72;
    const char* fastLines = base + (lines ? pass.size - 72 : 0);
    const unsigned cols = l.columns(), chans = l.channels;
    // The greatest value of each column, and where it goes in the record.
    unsigned limit[13];
    for (unsigned k = 0; k < cols; k++)
        limit[k] = k < chans ? 4095 : (l.counter && k == cols - 1 ? 15 : 1);
    const unsigned counterAt = l.counter ? cols - 1 : ~0u;
    Tally tally(pass, c);
    Releaser rel{pass.file, c.from};
    uint64_t idx = c.firstRecord;
    const char* nextStep = p + kStep;
    Record r;
    auto fail = [&](const char* line, const char* at, unsigned col, const std::string& what) {
        c.failed = true;
        c.why = "line " + std::to_string(idx + 1) + " (byte " + std::to_string(at - base) +
                "): " + (what.empty() ? lineFault(line, at, end, col, l) : what);
    };
    while (p < end) {
        const char* line = p;
        if (idx % kBlock == 0) {
            c.offsets.push_back(uint64_t(p - base));
            if (p >= nextStep) {
                pass.done.fetch_add(uint64_t(p - (nextStep - kStep)), std::memory_order_relaxed);
                nextStep = p + kStep;
                rel.at(uint64_t(p - base));
                if (pass.cancel.load(std::memory_order_relaxed)) {
                    c.failed = true;
                    c.why = "cancelled";
                    return;
                }
            }
        }
        bool whole = false;
#if defined(__SSE2__)
        if (lines && p <= fastLines) {
            if (const char* next = wholeLine(p, cols, chans, counterAt, limit, r)) {
                p = next;
                whole = true;
            }
        }
#endif
        unsigned digital = 0;
        for (unsigned k = 0; k < cols && !whole; k++) {
            const char* s = p;
            unsigned v = 0, n = 0, d;
            if (wide && p <= fast) {
                n = digitsAt(p, v);
            } else {  // the last bytes of the file: one at a time
                while ((d = unsigned(static_cast<unsigned char>(p[n])) - '0') <= 9) {
                    v = v * 10 + d;
                    n++;
                }
            }
            if (n == 0)
                return fail(line, p, k, "");
            p += n;
            if (n > 4 || v > limit[k] || (*s == '0' && n > 1))
                return fail(line, s, k, valueFault(s, p, v, k, l));
            putColumn(r, digital, k, chans, counterAt, v);
            if (k + 1 < cols) {
                if (*p != ',')
                    return fail(line, p, k, "");
                p++;
            } else if (*p == '\n') {
                p++;
            } else if (*p == '\r' && p[1] == '\n') {
                p += 2;
            } else {
                return fail(line, p, k, "");
            }
        }
        if (!whole)
            r.digital = uint8_t(digital);
        tally.take(r, idx);
        idx++;
    }
    tally.finish(idx);
    pass.done.fetch_add(uint64_t(p - (nextStep - kStep)), std::memory_order_relaxed);
    rel.finish(uint64_t(p - base));
    c.records = idx - c.firstRecord;
}

void scanRaw(Pass& pass, Records::Chunk& c)
{
    const Layout& l = pass.layout;
    const unsigned len = l.recordBytes();
    const auto* base = reinterpret_cast<const unsigned char*>(pass.data);
    Tally tally(pass, c);
    Releaser rel{pass.file, c.from};
    c.records = (c.to - c.from) / len;
    const uint64_t last = c.firstRecord + c.records;
    Record r;
    const bool scan = pass.extents || l.counter;
    for (uint64_t idx = c.firstRecord; idx < last && scan; idx++) {
        if (idx % 4096 == 0 && idx > c.firstRecord) {
            pass.done.fetch_add(4096ull * len, std::memory_order_relaxed);
            rel.at(c.from + (idx - c.firstRecord) * len);
            if (pass.cancel.load(std::memory_order_relaxed)) {
                c.failed = true;
                c.why = "cancelled";
                return;
            }
        }
        decodeRaw(base + c.from + (idx - c.firstRecord) * len, l, r);
        tally.take(r, idx);
    }
    tally.finish(last);
    rel.finish(c.to);
}

}  // namespace tarvo::recorded::scan
