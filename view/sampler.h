// What the chart draws of a run over a span of time, so many pixel columns
// wide: the records themselves when they are a pixel or more apart, else the
// least and greatest value of every channel in each pixel column.
//
// Principles of operation: record i is at time (i + records lost before it)
// periods, so between two losses time is a straight line in the record
// number. The timeline holds the run's losses (the index lists them), so
// finding the records of a span and cutting it into straight pieces touches
// no page of the data file. Each piece takes its columns from the min/max
// pyramid: about two entries per column whatever the zoom, and no spike is
// left out. From 16 to kBlock records per column, each block of the index
// (kBlock records) goes into the one or two columns its records fall in;
// below 16 the records are read one by one and each falls into its own
// column (at most 16 records a column to read: the cost stays bounded);
// below one record per column each record is a point of its own, and a
// loss leaves a gap in the trace.
//
// A run with more losses than the index lists has the rest found through
// the run's own count of lost records (Run::lostBefore), which reads a
// record of the file for each look.
//
// Channels are numbered as the pyramid numbers them: the analog channels
// 0..N-1, then the digital lines d1..d4 as N..N+3.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "run.h"
#include "view_range.h"

namespace tarvo::view {

// The times of a run's records.
class Timeline {
public:
    Timeline() = default;
    explicit Timeline(const recorded::Run& run);

    uint64_t count() const { return count_; }
    double periodUs() const { return period_; }
    uint64_t lostBefore(uint64_t i) const;
    double timeUs(uint64_t i) const { return double(i + lostBefore(i)) * period_; }
    // The first record whose period begins at or after `us` (count() if none).
    uint64_t recordAt(double us) const;
    // The end of the last record's period: where the time axis ends.
    double endUs() const { return count_ == 0 ? period_ : timeUs(count_ - 1) + period_; }

    // Records a..b-1 with no loss among them (but maybe before a).
    struct Piece {
        uint64_t a, b, lost;
    };
    // [a, b) cut at its losses; pieces of at most `finest` records are not
    // cut further (only where the losses are not listed).
    void pieces(uint64_t a, uint64_t b, uint64_t finest, std::vector<Piece>& out) const;

private:
    void cut(uint64_t a, uint64_t b, uint64_t la, uint64_t lb, uint64_t finest,
             std::vector<Piece>& out) const;

    const recorded::Run* run_ = nullptr;
    uint64_t count_ = 0;
    double period_ = 1;
    // From record `first` on, `lost` records were lost (cumulative), up to
    // the next step; complete below record `known_`.
    struct Step {
        uint64_t first, lost;
    };
    std::vector<Step> steps_;
    uint64_t known_ = 0;
};

struct Picture {
    enum class Kind { Empty, Columns, Points };
    Kind kind = Kind::Empty;
    unsigned width = 0;  // pixel columns

    // Columns: [channel][column], empty where no record falls.
    std::vector<std::vector<recorded::Extent>> columns;

    // Points: every record of the span and one on either side of it, at its
    // x in pixels from the span's start (fractional; the neighbours outside
    // 0..width).
    struct Point {
        double x = 0;
        uint64_t index = 0;
        bool afterLoss = false;  // records were lost just before this one
    };
    std::vector<Point> points;
    std::vector<std::vector<uint16_t>> values;  // [channel][point]
};

// The channels' picture of `span`, `width` columns wide.
Picture sample(const recorded::Run& run, const Timeline& timeline,
               const std::vector<unsigned>& channels, Span span, unsigned width);

// The value of channel `c` (pyramid numbering) in a record.
inline uint16_t valueOf(const recorded::Record& r, unsigned analogChannels, unsigned c)
{
    return c < analogChannels ? r.ch[c] : uint16_t(r.line(c - analogChannels));
}

}  // namespace tarvo::view
