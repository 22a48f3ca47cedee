// The records of a data file, read through a memory map: integer columns
// (one line per record) or raw bytes (records of a fixed length).
//
// Principles of operation:
// - One pass over the file builds the index: for every block of kBlock
//   records, where its first record begins (integer columns; raw records are
//   found by arithmetic), how many records the counter showed missing before
//   it, and the least and greatest value of every channel and digital line
//   in it (the finest level of the min/max pyramid, pyramid.h). The pass
//   checks every line as it goes (the columns the layout gives, values in
//   range, tarvo's own decimal form) and stops at the first that is not so,
//   with its line number and byte offset.
// - A large file is indexed by two threads: the second counts the lines of
//   the first half (a fast pass that touches no values) to know the number of
//   its own first record, then reads the second half while the first thread
//   reads the first. The caller's thread reports progress meanwhile.
// - Memory stays small whatever the size of the file: the index holds a few
//   bytes per block of kBlock records, and the pages of the file read so far
//   are handed back to the system as the pass goes on.
// - A file that a run in progress is still writing grows: refresh() indexes
//   only what was added since. Bytes after the last whole record (a line or
//   record still being written) are not read until they are whole.
// - Record i is reached through its block: a raw record directly, a line by
//   walking at most kBlock - 1 lines from the block's first.
//
// A Records object is used from one thread at a time.
//
// records.cpp opens, indexes (cutting the file into chunks for the threads)
// and follows growth; records_scan.* is the pass over one chunk;
// column_line.* reads and checks a line of integer columns; records_read.cpp
// reads records back through the index.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mapped_file.h"
#include "run_info.h"

namespace tarvo::recorded {

// Records per block of the index.
constexpr unsigned kBlock = 32;

// What each record of a data file holds.
struct Layout {
    Format format = Format::Columns;
    unsigned channels = 1;    // 1..8
    bool statusByte = false;  // raw: each record ends in one
    bool digital = false;     // the file holds the four digital lines
    bool counter = false;     // the file holds the record counter

    static Layout of(const Settings& s);
    unsigned recordBytes() const;  // raw
    unsigned columns() const;      // integer columns
    // Index lanes: one per channel, and one for the four digital lines.
    unsigned lanes() const { return channels + (digital ? 1 : 0); }
};

struct Record {
    uint16_t ch[8] = {};  // the samples, 0..4095
    uint8_t digital = 0;  // digital lines d1..d4 in bits 3..0 (d1: bit 7 of the status byte)
    uint8_t counter = 0;  // record counter, 0..15
    bool line(unsigned k) const { return (digital >> (3 - k)) & 1; }  // d(k+1)
};

// The least and greatest value over some records. Empty (lo > hi) when
// there were none. The digital lane holds the AND (lo) and the OR (hi) of
// the four lines' bits.
struct Extent {
    uint16_t lo = 0xFFFF, hi = 0;
    bool empty() const { return lo > hi; }
    void add(uint16_t v)
    {
        if (v < lo)
            lo = v;
        if (v > hi)
            hi = v;
    }
    void add(const Extent& e)
    {
        if (e.lo < lo)
            lo = e.lo;
        if (e.hi > hi)
            hi = e.hi;
    }
};

// Records the counter showed missing just before record `record` (0-based).
struct Loss {
    uint64_t record = 0;
    uint64_t missing = 0;
};

class Records;

// Reads the records of a Records one after another, from the record that
// Records::cursor(first) starts it at.
class RecordCursor {
public:
    bool next(Record& r);                      // false after the last record
    bool next();                               // the same, without decoding the record
    uint64_t index() const { return i_ - 1; }  // of the record next() gave
    std::string_view text() const { return text_; }
    unsigned counter() const;  // its counter (when the file holds one)
    // Hands back the pages of the file that this cursor has read.
    void release();

private:
    Record skip_;
    uint64_t start_ = 0;  // the first byte it read
    friend class Records;
    const Records* rs_ = nullptr;
    uint64_t i_ = 0;
    uint64_t at_ = 0;        // byte offset of the next record
    uint64_t released_ = 0;  // pages before this were handed back
    std::string_view text_;
};

class Records {
public:
    struct Options {
        unsigned threads = 2;                 // threads for a large file
        uint64_t parallelFrom = 16ull << 20;  // bytes from which more threads pay
        bool extents = true;                  // the min/max of every block (for the pyramid)
        // Called on the opening thread about every 50 ms with the bytes read
        // so far and the total; returning false cancels.
        std::function<bool(uint64_t done, uint64_t total)> progress;
    };

    Records();
    ~Records();
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    // Maps and indexes a data file. False, with the reason (the file's line
    // number and byte offset for a line that is not a record), when it cannot.
    bool open(const std::string& path, const Layout& layout, const Options& options,
              std::string& why);
    // The same over bytes in memory (for tests and fuzzing).
    bool openBytes(std::string bytes, const Layout& layout, const Options& options,
                   std::string& why);

    const Layout& layout() const { return layout_; }
    uint64_t count() const { return count_; }  // whole records
    uint64_t bytes() const { return bytes_; }  // bytes of the whole records
    uint64_t size() const { return size_; }    // bytes of the file as last seen
    // Bytes after the last whole record: a record still being written, or
    // one cut short.
    uint64_t tail() const { return size_ - bytes_; }

    // Record i (i < count()).
    Record record(uint64_t i) const;
    // Byte offset of record i, and its bytes: the line without its end, or
    // the raw record.
    uint64_t offset(uint64_t i) const;
    std::string_view text(uint64_t i) const;

    // Lost records (by the counter) before record i: the time of record i
    // is (i + lostBefore(i)) periods. 0 when the file holds no counter.
    uint64_t lostBefore(uint64_t i) const;
    uint64_t lost() const { return lost_; }
    // Each loss the counter showed, the first kMaxLosses of them.
    static constexpr size_t kMaxLosses = 10000;
    const std::vector<Loss>& losses() const { return losses_; }
    uint64_t lossesDropped() const { return lossesDropped_; }

    // The index: blocks of kBlock records, the last one possibly partial.
    uint64_t blocks() const { return (count_ + kBlock - 1) / kBlock; }
    // The min/max of each block in one lane (empty without Options::extents).
    const std::vector<Extent>& blockExtents(unsigned lane) const { return extents_[lane]; }
    // Bytes held by the index.
    size_t memoryBytes() const;

    // Reads records one after another, from record `first`.
    using Cursor = RecordCursor;
    Cursor cursor(uint64_t first) const;

    // Growth of a file that a run is writing: indexes the whole records added
    // since the last look. Replaced: the path names another file now (a new
    // run kept this one under a dated name, it is read on as it is); Shrunk:
    // the file is shorter than what was indexed; Failed: it cannot be read or
    // what was added is not records (`why`).
    enum class Growth { None, Added, Replaced, Shrunk, Failed };
    Growth refresh(std::string& why);

    // Hands back the pages of the file read so far (they are read again from
    // the system's cache when needed).
    void releasePages() const;

    // What the scan of a part of the file found (records.cpp).
    struct Chunk;

private:
    friend class RecordCursor;
    void reset();
    bool index(uint64_t from, uint64_t to, const Options& options, bool parallel, std::string& why);
    void merge(Chunk& c);
    const char* data() const { return data_; }

    Layout layout_;
    MappedFile file_;
    std::string memory_;  // openBytes
    const char* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t bytes_ = 0;
    uint64_t count_ = 0;
    bool extentsOn_ = true;
    std::vector<uint64_t> offsets_;             // columns: offset of each block's first record
    std::vector<uint64_t> skips_;               // lostBefore() of each block's first record
    std::vector<std::vector<Extent>> extents_;  // per lane, per block
    int lastCounter_ = -1;                      // counter of the last record indexed
    uint64_t lost_ = 0;
    std::vector<Loss> losses_;
    uint64_t lossesDropped_ = 0;
};

}  // namespace tarvo::recorded
