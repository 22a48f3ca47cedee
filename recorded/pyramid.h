// The min/max pyramid over a run's records, for drawing it at any zoom.
//
// Principles of operation: level 0 is the index's blocks of kBlock records
// (records.h), each with the least and greatest value of every channel;
// level L holds the same for blocks of kBlock * 2^L records, each made of two
// blocks of the level below. A picture `columns` pixels wide of any range of
// records takes each column from blocks of the one level whose block is at
// most a column wide: about two entries per column, whatever the zoom. So
// that no spike disappears, the columns' edges follow that level's block
// edges (a column may take a few records of its neighbour's share, never
// miss one); the first and last columns are exact. Zoomed in below one block
// per column, the records themselves are read (fewer than kBlock per
// column). The levels together hold about as much as level 0 again: a few
// bytes per block of kBlock records.
//
// Channels are numbered from 0: the analog channels 0..N-1, then the four
// digital lines d1..d4 as N..N+3 (their extents are 0 or 1).
#pragma once

#include <cstdint>
#include <vector>

#include "records.h"

namespace tarvo::recorded {

class Pyramid {
public:
    // Builds the levels over the records' blocks. The records must have been
    // indexed with their extents (Records::Options::extents) and must outlive
    // the pyramid.
    explicit Pyramid(const Records& records);

    // Takes in the records that Records::refresh() added.
    void update();

    // The least and greatest value of `channel` in each of `columns` equal
    // shares of the records first..last (both included): one Extent per
    // column, empty where a column holds no record (fewer records than
    // columns). A range past the end is cut at the last record.
    std::vector<Extent> minmax(unsigned channel, uint64_t first, uint64_t last,
                               unsigned columns) const;
    // The same for several channels at once (each record read once when the
    // records themselves are read): one vector per channel, in order.
    std::vector<std::vector<Extent>> minmax(const std::vector<unsigned>& channels, uint64_t first,
                                            uint64_t last, unsigned columns) const;

    unsigned channels() const;  // analog channels and digital lines
    unsigned levels() const { return 1 + unsigned(upper_.empty() ? 0 : upper_[0].size()); }
    size_t memoryBytes() const;  // the levels above the blocks

private:
    const std::vector<Extent>& level(unsigned lane, unsigned l) const;
    void build(uint64_t fromBlock);

    const Records& rs_;
    std::vector<std::vector<std::vector<Extent>>> upper_;  // [lane][level - 1][block]
    uint64_t blocks_ = 0;                                  // level-0 blocks taken in
};

}  // namespace tarvo::recorded
