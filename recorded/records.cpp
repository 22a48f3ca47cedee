#include "records.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "recordline.h"

namespace tarvo::recorded {

Layout Layout::of(const Settings& s)
{
    Layout l;
    l.format = s.format;
    l.channels = s.channels;
    l.statusByte = s.statusByte;
    l.digital = s.fileHasDigital();
    l.counter = s.fileHasCounter();
    return l;
}

unsigned Layout::recordBytes() const { return reclen(channels, statusByte ? 1 : 0); }
unsigned Layout::columns() const { return channels + (digital ? 4 : 0) + (counter ? 1 : 0); }

struct Records::Chunk {
    uint64_t from = 0, to = 0;    // bytes, whole records
    uint64_t firstRecord = 0;     // number of its first record in the file
    uint64_t records = 0;
    std::vector<uint64_t> offsets;  // of the records that begin a block
    std::vector<uint64_t> skips;    // lost before them, from the chunk's first record on
    std::vector<std::vector<Extent>> extents;  // blocks from firstRecord / kBlock on
    int firstCounter = -1, lastCounter = -1;
    uint64_t lost = 0;              // within the chunk
    std::vector<Loss> losses;
    uint64_t lossesDropped = 0;
    bool failed = false;
    std::string why;
};

namespace {

constexpr uint64_t kStep = 1 << 20;          // progress, cancelling and page hand-back
constexpr uint64_t kRelease = 16ull << 20;   // hand back pages every this many bytes
constexpr uint64_t kQuiet = 4ull << 20;      // a pass this small runs on the caller's thread

// Shared by the threads of one pass.
struct Pass {
    const char* data = nullptr;
    uint64_t size = 0;
    const MappedFile* file = nullptr;  // null for bytes in memory
    Layout layout;
    bool extents = true;
    std::atomic<uint64_t> done{0};
    std::atomic<bool> cancel{false};
};

// Hands back pages behind a reader as it goes.
struct Releaser {
    const MappedFile* file;
    uint64_t from;
    void at(uint64_t offset)
    {
        if (file != nullptr && offset - from >= kRelease) {
            file->release(from, offset - from);
            from = offset;
        }
    }
    void finish(uint64_t offset)
    {
        if (file != nullptr && offset > from)
            file->release(from, offset - from);
    }
};

// Line ends in [p, end), eight bytes at a time.
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
            n += uint64_t(_mm_cvtsi128_si32(sums)) + uint64_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
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

void addLoss(std::vector<Loss>& losses, uint64_t& dropped, uint64_t record, uint64_t missing)
{
    if (losses.size() < Records::kMaxLosses)
        losses.push_back({record, missing});
    else
        dropped++;
}

// The record counter through one chunk: the records missing between two
// received ones, and the count lost before each block's first record (its
// own gap included).
struct CounterTrack {
    int prev = -1;
    uint64_t lost = 0;

    void see(Records::Chunk& c, uint64_t idx, unsigned counter)
    {
        if (prev >= 0) {
            const unsigned gap = unsigned(counter - prev - 1) & 15;
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

std::string printable(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return std::string("'") + c + "'";
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", u);
    return hex;
}

// The reason a line is not a record, found at `at`.
std::string lineFault(const char* line, const char* at, const char* stop, unsigned col,
                      const Layout& l)
{
    const char* end = static_cast<const char*>(std::memchr(line, '\n', size_t(stop - line)));
    unsigned cols = 1;
    for (const char* q = line; end != nullptr && q < end; q++)
        cols += *q == ',';
    const std::string want = std::to_string(l.columns()) + (l.columns() == 1 ? " column" : " columns");
    if (at == line && (*at == '\n' || (*at == '\r' && at[1] == '\n')))
        return "an empty line";
    if ((*at == '\n' || *at == '\r') && col + 1 < l.columns())
        return std::to_string(cols) + (cols == 1 ? " column" : " columns") + ", expected " + want;
    if (*at == ',' && col + 1 == l.columns())
        return std::to_string(cols) + " columns, expected " + want;
    if (*at == '\r')
        return "a carriage return inside the line";
    return "unexpected " + printable(*at) + " in column " + std::to_string(col + 1);
}

// The decimal digits at p, eight bytes at a time (p[0..7] must be readable):
// how many there are (8: eight or more), and their value when there are one
// to four. No branch depends on the digits, so the lines' varying widths
// cost no mispredictions.
inline unsigned digitsAt(const char* p, unsigned& value)
{
    constexpr uint64_t ones = 0x0101010101010101ull;
    uint64_t w;
    std::memcpy(&w, p, 8);
    // Zero in every byte that is a digit: high nibble 3, low nibble 0..9. A
    // carry out of a byte that is not a digit only reaches the bytes after it.
    const uint64_t y = ((w & (ones * 0xF0)) ^ (ones * 0x30)) |
                       (((w + ones * 0x06) & (ones * 0xF0)) ^ (ones * 0x30));
    const uint64_t other = (((y & (ones * 0x7F)) + ones * 0x7F) | y) & (ones * 0x80);
    const unsigned n = other != 0 ? unsigned(__builtin_ctzll(other)) / 8 : 8;
    if (n == 0 || n > 4)
        return n;
    // The n digits to the top of the word, zeros before them; then pairs,
    // fours and eights of digits combined.
    uint64_t d = (w - ones * 0x30) << (8 * (8 - n));
    d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFull;
    d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFull;
    d = (d * 10000 + (d >> 32)) & 0xFFFFFFFFull;
    value = unsigned(d);
    return n;
}

#if defined(__SSE2__)
// A whole line of integer columns at p, checked 64 bytes at once (p[0..71]
// must be readable): where its commas, digits and end are as bit masks, then
// each value from its known width. The next line's start, or null when the
// line is not a plain record of the layout within 64 bytes: reading it one
// byte at a time then tells what it is.
inline const char* wholeLine(const char* p, unsigned cols, unsigned chans, unsigned counterAt,
                             const unsigned* limit, Record& r)
{
    const __m128i comma = _mm_set1_epi8(','), nl = _mm_set1_epi8('\n');
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    uint64_t commas = 0, ends = 0, digits = 0;
    for (int i = 0; i < 4; i++) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i t = _mm_sub_epi8(v, zero);  // a digit: 0..9 unsigned
        commas |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)))) << (16 * i);
        ends |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(v, nl)))) << (16 * i);
        digits |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(t, nine), nine))))
                  << (16 * i);
    }
    if (ends == 0)
        return nullptr;
    const unsigned e = unsigned(__builtin_ctzll(ends));
    const unsigned stop = e > 0 && p[e - 1] == '\r' ? e - 1 : e;  // where the values end
    const uint64_t inside = (uint64_t(1) << stop) - 1;
    uint64_t seps = commas & inside;
    if (((digits | seps) & inside) != inside)
        return nullptr;
    constexpr uint64_t ones = 0x0101010101010101ull;
    unsigned from = 0, digital = 0;
    for (unsigned k = 0; k < cols; k++) {
        unsigned to = stop;
        if (k + 1 < cols) {
            if (seps == 0)
                return nullptr;
            to = unsigned(__builtin_ctzll(seps));
            seps &= seps - 1;
        } else if (seps != 0) {
            return nullptr;
        }
        const unsigned n = to - from;
        if (n - 1 > 3 || (n > 1 && p[from] == '0'))
            return nullptr;
        // The n digits to the top of the word, then pairs and fours combined.
        uint64_t w;
        std::memcpy(&w, p + from, 8);
        uint64_t d = (w - ones * 0x30) << (8 * (8 - n));
        d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FFull;
        d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFFull;
        const unsigned v = unsigned(d >> 32);
        if (v > limit[k])
            return nullptr;
        if (k < chans)
            r.ch[k] = uint16_t(v);
        else if (k == counterAt)
            r.counter = uint8_t(v);
        else
            digital |= v << (3 - (k - chans));
        from = to + 1;
    }
    r.digital = uint8_t(digital);
    return p + e + 1;
}
#endif

// Why the value of column `col` that begins at `s` and ends at `p` is not
// one tarvo writes; empty when it is.
std::string valueFault(const char* s, const char* p, unsigned v, unsigned col, const Layout& l)
{
    const std::string column = "column " + std::to_string(col + 1);
    if (p - s > 4)
        return "a value of more than four digits in " + column;
    if (*s == '0' && p - s > 1)
        return "a value with a leading zero in " + column;
    if (col < l.channels)
        return v > 4095 ? "channel " + std::to_string(col + 1) + " is " + std::to_string(v) +
                              ", above 4095"
                        : "";
    if (l.counter && col == l.columns() - 1)
        return v > 15 ? "the counter is " + std::to_string(v) + ", above 15" : "";
    return v > 1 ? "digital line d" + std::to_string(col - l.channels + 1) + " is " +
                       std::to_string(v) + ", not 0 or 1"
                 : "";
}

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
    Blocks blocks{l.lanes(), {}};
    c.extents.assign(pass.extents ? l.lanes() : 0, {});
    Releaser rel{pass.file, c.from};
    uint64_t idx = c.firstRecord;
    CounterTrack counters;
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
            if (k < chans)
                r.ch[k] = uint16_t(v);
            else if (k == counterAt)
                r.counter = uint8_t(v);
            else
                digital |= v << (3 - (k - chans));
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
        if (l.counter)
            counters.see(c, idx, r.counter);
        if (pass.extents) {
            blocks.add(r, l);
            if ((idx + 1) % kBlock == 0)
                blocks.push(c);
        }
        idx++;
    }
    if (pass.extents && idx % kBlock != 0 && idx > c.firstRecord)
        blocks.push(c);
    pass.done.fetch_add(uint64_t(p - (nextStep - kStep)), std::memory_order_relaxed);
    rel.finish(uint64_t(p - base));
    c.records = idx - c.firstRecord;
    c.lastCounter = counters.prev;
    c.lost = counters.lost;
}

inline void decodeRaw(const unsigned char* rec, const Layout& l, Record& r)
{
    for (unsigned i = 0; i < l.channels; i++)
        r.ch[i] = uint16_t(recordsample(rec, i));
    if (l.statusByte) {
        const unsigned char s = rec[l.recordBytes() - 1];
        r.digital = uint8_t(s >> 4);
        r.counter = uint8_t(s & 15);
    }
}

void scanRaw(Pass& pass, Records::Chunk& c)
{
    const Layout& l = pass.layout;
    const unsigned len = l.recordBytes();
    const auto* base = reinterpret_cast<const unsigned char*>(pass.data);
    Blocks blocks{l.lanes(), {}};
    c.extents.assign(pass.extents ? l.lanes() : 0, {});
    Releaser rel{pass.file, c.from};
    c.records = (c.to - c.from) / len;
    const uint64_t last = c.firstRecord + c.records;
    CounterTrack counters;
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
        if (l.counter)
            counters.see(c, idx, r.counter);
        if (pass.extents) {
            blocks.add(r, l);
            if ((idx + 1) % kBlock == 0)
                blocks.push(c);
        }
    }
    if (pass.extents && last % kBlock != 0 && c.records > 0)
        blocks.push(c);
    rel.finish(c.to);
    c.lastCounter = counters.prev;
    c.lost = counters.lost;
}

}  // namespace

Records::Records() = default;
Records::~Records() = default;

void Records::reset()
{
    file_.close();
    memory_.clear();
    data_ = nullptr;
    size_ = bytes_ = count_ = 0;
    offsets_.clear();
    skips_.clear();
    extents_.clear();
    lastCounter_ = -1;
    lost_ = 0;
    losses_.clear();
    lossesDropped_ = 0;
}

bool Records::open(const std::string& path, const Layout& layout, const Options& options,
                   std::string& why)
{
    reset();
    if (!file_.open(path, why))
        return false;
    layout_ = layout;
    data_ = file_.data();
    size_ = file_.size();
    return index(0, size_, options, true, why);
}

bool Records::openBytes(std::string bytes, const Layout& layout, const Options& options,
                        std::string& why)
{
    reset();
    memory_ = std::move(bytes);
    layout_ = layout;
    data_ = memory_.data();
    size_ = memory_.size();
    return index(0, size_, options, true, why);
}

bool Records::index(uint64_t from, uint64_t to, const Options& options, bool parallel, std::string& why)
{
    Layout& l = layout_;
    if (l.format == Format::Raw)
        l.digital = l.counter = l.statusByte;
    if (l.channels < 1 || l.channels > 8) {
        why = "channels must be 1 to 8";
        return false;
    }
    if (from == 0) {
        extentsOn_ = options.extents;
        extents_.assign(extentsOn_ ? l.lanes() : 0, {});
    }
    Pass pass;
    pass.data = data_;
    pass.size = size_;
    pass.file = memory_.empty() && data_ != nullptr ? &file_ : nullptr;
    pass.layout = l;
    pass.extents = extentsOn_;

    // The whole records in [from, to).
    uint64_t end = from;
    if (l.format == Format::Raw) {
        end = from + (to - from) / l.recordBytes() * l.recordBytes();
    } else {
        for (uint64_t i = to; i > from; i--)
            if (data_[i - 1] == '\n') {
                end = i;
                break;
            }
    }
    if (end == from)
        return true;

    unsigned threads = parallel && end - from >= options.parallelFrom ? std::max(1u, options.threads) : 1;
    std::vector<Chunk> chunks(threads);
    for (unsigned k = 0; k < threads; k++) {
        Chunk& c = chunks[k];
        if (l.format == Format::Raw) {
            const uint64_t n = (end - from) / l.recordBytes();
            const uint64_t r0 = k == 0 ? 0 : n * k / threads / kBlock * kBlock;
            const uint64_t r1 = k + 1 == threads ? n : n * (k + 1) / threads / kBlock * kBlock;
            c.firstRecord = count_ + r0;
            c.from = from + r0 * l.recordBytes();
            c.to = from + r1 * l.recordBytes();
        } else {
            auto lineStart = [&](uint64_t at) {
                if (at <= from) return from;
                const void* nl = std::memchr(data_ + at - 1, '\n', end - (at - 1));
                return nl ? uint64_t(static_cast<const char*>(nl) - data_) + 1 : end;
            };
            c.from = lineStart(from + (end - from) * k / threads);
            c.to = k + 1 == threads ? end : lineStart(from + (end - from) * (k + 1) / threads);
            c.firstRecord = count_;  // chunks after the first count their lines first
        }
    }
    auto work = [&](unsigned k) {
        Chunk& c = chunks[k];
        if (l.format == Format::Raw) {
            scanRaw(pass, c);
            return;
        }
        if (k > 0) {
            Releaser rel{pass.file, from};
            c.firstRecord = count_ + countLines(data_ + from, data_ + c.from, pass, rel, data_);
            rel.finish(c.from);
        }
        if (!pass.cancel.load())
            scanColumns(pass, c);
    };
    const uint64_t total = end - from;
    if (threads == 1 && (!options.progress || total < kQuiet)) {
        work(0);
    } else {
        std::mutex m;
        std::condition_variable cv;
        unsigned finished = 0;
        std::vector<std::thread> pool;
        for (unsigned k = 0; k < threads; k++)
            pool.emplace_back([&, k] {
                work(k);
                std::lock_guard<std::mutex> lock(m);
                finished++;
                cv.notify_one();
            });
        std::unique_lock<std::mutex> lock(m);
        while (!cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished == threads; })) {
            if (options.progress && !pass.cancel.load() &&
                !options.progress(std::min(pass.done.load(), total), total))
                pass.cancel.store(true);
        }
        lock.unlock();
        for (auto& t : pool)
            t.join();
    }
    // The first fault in the file: every chunk before it was read whole.
    for (Chunk& c : chunks)
        if (c.failed && c.why != "cancelled") {
            why = c.why;
            return false;
        }
    if (pass.cancel.load() || (options.progress && !options.progress(total, total))) {
        why = "cancelled";
        return false;
    }
    for (Chunk& c : chunks)
        merge(c);
    return true;
}

void Records::merge(Chunk& c)
{
    if (c.records == 0)
        return;
    uint64_t base = lost_;
    if (layout_.counter && c.firstCounter >= 0 && lastCounter_ >= 0) {
        const unsigned gap = unsigned(c.firstCounter - lastCounter_ - 1) & 15;
        if (gap != 0) {
            base += gap;
            addLoss(losses_, lossesDropped_, count_, gap);
        }
    }
    offsets_.insert(offsets_.end(), c.offsets.begin(), c.offsets.end());
    for (uint64_t s : c.skips)
        skips_.push_back(base + s);
    for (const Loss& loss : c.losses)
        addLoss(losses_, lossesDropped_, loss.record, loss.missing);
    lossesDropped_ += c.lossesDropped;
    lost_ = base + c.lost;
    for (size_t lane = 0; lane < extents_.size() && lane < c.extents.size(); lane++) {
        std::vector<Extent>& mine = extents_[lane];
        const std::vector<Extent>& theirs = c.extents[lane];
        size_t k = 0;
        if (count_ % kBlock != 0 && !theirs.empty() && !mine.empty()) {
            Extent& last = mine.back();
            if (lane == layout_.channels) {  // the digital lane: AND and OR
                last.lo &= theirs[0].lo;
                last.hi |= theirs[0].hi;
            } else {
                last.add(theirs[0]);
            }
            k = 1;
        }
        mine.insert(mine.end(), theirs.begin() + long(k), theirs.end());
        std::vector<Extent>().swap(c.extents[lane]);
    }
    count_ += c.records;
    bytes_ = c.to;
    lastCounter_ = c.lastCounter;
}

uint64_t Records::offset(uint64_t i) const
{
    if (layout_.format == Format::Raw)
        return i * layout_.recordBytes();
    uint64_t at = offsets_[i / kBlock];
    for (uint64_t n = i % kBlock; n > 0 && at < bytes_; n--) {
        const void* nl = std::memchr(data_ + at, '\n', bytes_ - at);
        at = nl ? uint64_t(static_cast<const char*>(nl) - data_) + 1 : bytes_;
    }
    return at;
}

std::string_view Records::text(uint64_t i) const
{
    const uint64_t at = offset(i);
    if (layout_.format == Format::Raw)
        return {data_ + at, layout_.recordBytes()};
    // The file was checked when it was indexed; should it change under the
    // map, a line runs to the end of the indexed bytes at most.
    const char* nl = static_cast<const char*>(std::memchr(data_ + at, '\n', bytes_ - at));
    if (nl == nullptr)
        nl = data_ + bytes_;
    size_t n = size_t(nl - (data_ + at));
    if (n > 0 && nl[-1] == '\r')
        n--;
    return {data_ + at, n};
}

namespace {

// A checked line of integer columns (or raw bytes) into a record.
void decode(std::string_view text, const Layout& l, Record& r)
{
    if (l.format == Format::Raw) {
        decodeRaw(reinterpret_cast<const unsigned char*>(text.data()), l, r);
        return;
    }
    const char* p = text.data();
    const char* end = p + text.size();
    r.digital = 0;
    for (unsigned k = 0; k < l.columns() && p < end; k++) {
        unsigned v = 0;
        while (p < end && *p != ',')
            v = v * 10 + unsigned(*p++ - '0');
        p++;
        if (k < l.channels)
            r.ch[k] = uint16_t(v);
        else if (l.counter && k == l.columns() - 1)
            r.counter = uint8_t(v);
        else
            r.digital = uint8_t(r.digital | ((v & 1) << (3 - (k - l.channels))));
    }
}

}  // namespace

Record Records::record(uint64_t i) const
{
    Record r;
    decode(text(i), layout_, r);
    return r;
}

uint64_t Records::lostBefore(uint64_t i) const
{
    if (!layout_.counter || i >= count_)
        return i >= count_ ? lost_ : 0;
    const uint64_t first = i / kBlock * kBlock;
    uint64_t lost = skips_[i / kBlock];
    Cursor c = cursor(first);
    Record r;
    c.next(r);
    unsigned prev = r.counter;
    for (uint64_t j = first + 1; j <= i && c.next(r); j++) {
        lost += unsigned(r.counter - prev - 1) & 15;
        prev = r.counter;
    }
    return lost;
}

void Records::Cursor::release()
{
    // The system maps the pages around a page read too (a whole large folio
    // of the file cache: up to 2 MiB on Linux): those go as well.
    constexpr uint64_t around = 2 * 1024 * 1024;
    if (rs_ != nullptr && rs_->memory_.empty() && at_ > released_) {
        const uint64_t from = std::min(released_, start_) / around * around;
        rs_->file_.release(from, (at_ + around - 1) / around * around - from);
    }
    released_ = at_;
}

bool Records::Cursor::next()
{
    return next(skip_);
}

unsigned Records::Cursor::counter() const
{
    if (rs_->layout_.format == Format::Raw)
        return static_cast<unsigned char>(text_.back()) & 15;
    // The last column, read back from the line's end.
    unsigned v = 0, place = 1;
    for (size_t k = text_.size(); k > 0 && text_[k - 1] != ','; k--, place *= 10)
        v += unsigned(text_[k - 1] - '0') * place;
    return v & 15;
}

Records::Cursor Records::cursor(uint64_t first) const
{
    Cursor c;
    c.rs_ = this;
    c.i_ = first;
    c.at_ = first < count_ ? offset(first) : bytes_;
    c.released_ = c.at_;
    c.start_ = c.at_;
    if (layout_.format == Format::Columns && first < count_)
        c.start_ = offsets_[first / kBlock];  // offset() walked from there
    return c;
}

bool Records::Cursor::next(Record& r)
{
    if (i_ >= rs_->count_)
        return false;
    const char* base = rs_->data_;
    if (rs_->layout_.format == Format::Raw) {
        const unsigned len = rs_->layout_.recordBytes();
        text_ = {base + at_, len};
        at_ += len;
    } else {
        if (at_ >= rs_->bytes_)
            return false;
        const char* nl = static_cast<const char*>(std::memchr(base + at_, '\n', rs_->bytes_ - at_));
        if (nl == nullptr)
            nl = base + rs_->bytes_;
        size_t n = size_t(nl - (base + at_));
        text_ = {base + at_, n > 0 && nl[-1] == '\r' ? n - 1 : n};
        at_ += n + 1;
    }
    if (&r != &skip_)
        decode(text_, rs_->layout_, r);
    i_++;
    if (at_ - released_ >= kRelease && rs_->memory_.empty()) {
        rs_->file_.release(released_, at_ - released_ - 4096);
        released_ = at_ - 4096;
    }
    return true;
}

Records::Growth Records::refresh(std::string& why)
{
    if (!memory_.empty() || file_.path().empty())
        return Growth::None;
    bool shrunk = false;
    if (!file_.remap(why, &shrunk))
        return Growth::Failed;
    if (shrunk && file_.size() < bytes_)
        return Growth::Shrunk;
    data_ = file_.data();
    size_ = file_.size();
    const uint64_t before = count_;
    Options serial;
    serial.threads = 1;
    serial.extents = extentsOn_;
    if (size_ > bytes_ && !index(bytes_, size_, serial, false, why))
        return Growth::Failed;
    if (!file_.isAt(file_.path()))
        return Growth::Replaced;
    return count_ > before ? Growth::Added : Growth::None;
}

void Records::releasePages() const
{
    if (memory_.empty())
        file_.release(0, size_);
}

size_t Records::memoryBytes() const
{
    size_t n = offsets_.capacity() * sizeof(uint64_t) + skips_.capacity() * sizeof(uint64_t) +
               losses_.capacity() * sizeof(Loss);
    for (const auto& e : extents_)
        n += e.capacity() * sizeof(Extent);
    return n;
}

}  // namespace tarvo::recorded
