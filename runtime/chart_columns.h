// The live chart's time columns, without Qt: the last seconds of a run cut
// into one column per pixel of the plot's width. Each column keeps the
// first, least, greatest and last value of every trace, and of the digital
// lines the first and last status byte with the AND and the OR of all of
// them: a spike narrower than a column still shows, and the memory does not
// grow with the record rate.
//
// Column `id` covers the times [id, id + 1) column widths after the run's
// first record; the columns are a ring of `width()` slots, column id in slot
// id mod width(), so the window moves on without moving anything. A chart
// keeps one such set of columns for each time window it offers, all of the
// same width, so a wider window costs no more to draw than a narrow one. The
// whole run so far is a set whose columns start 5 s / width wide and double
// (two neighbours merged into one) whenever the run outgrows them. Besides,
// the model measures the record rate from the record numbers it is given and
// tells how many records the run should pass over between two it hands on.
#pragma once

#include "live_feed.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvo::rt {

struct ChartColumn {
    std::int64_t id = -1;  // absolute column number (time / column width); else empty
    std::array<std::uint16_t, kChartChannels> first{}, lo{}, hi{}, last{};
    std::uint8_t linesFirst = 0, linesLo = 0, linesHi = 0, linesLast = 0;  // lo: AND, hi: OR
};

class ChartColumns {
public:
    // The window a new chart shows, and the width of the whole run's columns
    // at its start.
    static constexpr double kWindowSeconds = 5.0;
    // The time windows a chart offers; 0 stands for the whole run so far.
    static constexpr double kWindows[] = {5, 30, 120, 600, 0};
    // The records per second the chart takes at most; beyond that the run
    // hands over every n-th record. A real board sends at most about 3200.
    static constexpr double kMaxTakenPerSecond = 40000;
    static constexpr std::int64_t kUnchanged = INT64_MAX;

    // A new run: no columns hold data; the rate is measured from `nowMs` on.
    void restart(const ChartLayout& layout, std::int64_t nowMs);
    const ChartLayout& layout() const { return layout_; }

    // The window, in seconds (0: the whole run so far); takes effect at the
    // next rebin(). 5 s unless set.
    void setWindow(double seconds) { windowSeconds_ = seconds; }
    double windowSeconds() const { return windowSeconds_; }
    bool wholeRun() const { return windowSeconds_ <= 0; }

    // Puts a record into its column; a record older than the window is left
    // out. Over the whole run, columns double until the record fits.
    void take(const ChartPoint& p);
    // The time of record `index` after the run's first record, in us.
    double timeUs(std::uint32_t index) const;
    // The column the time `us` after the run's first record falls in.
    std::int64_t columnAt(double us) const;
    // Over the whole run: columns double until the time `us` fits in them
    // (the clock goes on while the board is silent). Nothing otherwise.
    void reach(double us);
    // Counts the doublings since restart(): each one moves every column.
    int coarsenings() const { return coarsenings_; }

    // The same window in `width` columns: the values merged into the new
    // columns, so a resize keeps the picture.
    void rebin(int width);
    int width() const { return int(columns_.size()); }
    double columnUs() const { return columnUs_; }

    // The newest column with data (-1: none), and column `id` if it holds data.
    std::int64_t latest() const { return latest_; }
    const ChartColumn* column(std::int64_t id) const;
    // The record number of the newest record taken (0: none in this run).
    std::uint32_t lastIndex() const { return lastIndex_; }

    // The oldest column changed since clearChanged() (kUnchanged: none).
    std::int64_t oldestChanged() const { return changedFrom_; }
    bool changed() const { return changedFrom_ != kUnchanged; }
    void clearChanged() { changedFrom_ = kUnchanged; }

    // The pass-over count for the rate measured since the last measurement,
    // once that is at least 100 ms ago (else nothing): 0 up to
    // kMaxTakenPerSecond, else enough to bring the records taken under it.
    std::optional<int> skipAt(std::int64_t nowMs);

private:
    // The columns regrouped at `columnUs` a column, `width` of them.
    void regroup(int width, double columnUs);
    void coarsenFor(std::int64_t id);

    double windowSeconds_ = kWindowSeconds;
    int coarsenings_ = 0;
    ChartLayout layout_;
    std::vector<ChartColumn> columns_;
    double columnUs_ = 0;
    std::int64_t latest_ = -1;
    std::int64_t changedFrom_ = kUnchanged;
    std::uint32_t lastIndex_ = 0;

    std::uint32_t rateIndex_ = 0;  // lastIndex_ at the last measurement
    std::int64_t rateAt_ = 0;      // and its time
};

// The run's time as the chart shows it: the time of the newest record, moved
// on by the clock since it came, never back. While records come the chart's
// right edge is the newest record; when the board falls silent it goes on
// with the clock, and the traces stop where the records stopped.
class RunClock {
public:
    void restart() { *this = RunClock(); }
    // The newest record so far is `recordUs` into the run, seen at `nowMs`.
    void record(double recordUs, std::int64_t nowMs);
    // The run's time at `nowMs` (-1 before the first record).
    double nowUs(std::int64_t nowMs);

private:
    double recordUs_ = -1;
    std::int64_t seenMs_ = 0;
    double shownUs_ = -1;
};

}  // namespace tarvo::rt
