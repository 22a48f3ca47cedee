// The pass that indexes a part of a data file (records.h tells how the
// index is built): what one thread finds in its chunk, and the scanners of
// integer columns and of raw records that fill it. Internal to the readers
// of records.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "recordline.h"
#include "records.h"

namespace tarvo::recorded {

struct Records::Chunk {
    uint64_t from = 0, to = 0;  // bytes, whole records
    uint64_t firstRecord = 0;   // number of its first record in the file
    uint64_t records = 0;
    std::vector<uint64_t> offsets;             // of the records that begin a block
    std::vector<uint64_t> skips;               // lost before them, from the chunk's first record on
    std::vector<std::vector<Extent>> extents;  // blocks from firstRecord / kBlock on
    int firstCounter = -1, lastCounter = -1;
    uint64_t lost = 0;  // within the chunk
    std::vector<Loss> losses;
    uint64_t lossesDropped = 0;
    bool failed = false;
    std::string why;
};

namespace scan {

constexpr uint64_t kStep = 1 << 20;         // progress, cancelling and page hand-back
constexpr uint64_t kRelease = 16ull << 20;  // hand back pages every this many bytes
constexpr uint64_t kQuiet = 4ull << 20;     // a pass this small runs on the caller's thread

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

// Records the 4-bit counter shows missing between two received values.
inline unsigned counterGap(unsigned prev, unsigned next) { return (next - prev - 1) & 15; }

// One more loss in `losses`, or one more dropped when it holds kMaxLosses.
inline void addLoss(std::vector<Loss>& losses, uint64_t& dropped, uint64_t record, uint64_t missing)
{
    if (losses.size() < Records::kMaxLosses)
        losses.push_back({record, missing});
    else
        dropped++;
}

// A raw record into a record.
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

// Line ends in [p, end), eight bytes at a time.
uint64_t countLines(const char* p, const char* end, Pass& pass, Releaser& rel, const char* base);

// Reads the records of chunk `c` into it: integer columns, checking every
// line, or raw records. A fault or a cancel sets c.failed and c.why.
void scanColumns(Pass& pass, Records::Chunk& c);
void scanRaw(Pass& pass, Records::Chunk& c);

}  // namespace scan
}  // namespace tarvo::recorded
