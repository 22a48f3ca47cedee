// The live chart's time columns, without Qt: the last seconds of a run cut
// into one column per pixel of the plot's width. Each column keeps the
// first, least, greatest and last value of every trace, and of the digital
// lines the first and last status byte with the AND and the OR of all of
// them: a spike narrower than a column still shows, and the memory does not
// grow with the record rate.
//
// Column `id` covers the times [id, id + 1) column widths after the run's
// first record; the columns are a ring of `width()` slots, column id in slot
// id mod width(), so the window moves on without moving anything. Besides,
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
    static constexpr double kWindowSeconds = 5.0;
    // The records per second the chart takes at most; beyond that the run
    // hands over every n-th record. A real board sends at most about 3200.
    static constexpr double kMaxTakenPerSecond = 40000;
    static constexpr std::int64_t kUnchanged = INT64_MAX;

    // A new run: no columns hold data; the rate is measured from `nowMs` on.
    void restart(const ChartLayout& layout, std::int64_t nowMs);
    const ChartLayout& layout() const { return layout_; }

    // Puts a record into its column; a record older than the window is left out.
    void take(const ChartPoint& p);

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
    ChartLayout layout_;
    std::vector<ChartColumn> columns_;
    double columnUs_ = 0;
    std::int64_t latest_ = -1;
    std::int64_t changedFrom_ = kUnchanged;
    std::uint32_t lastIndex_ = 0;

    std::uint32_t rateIndex_ = 0;  // lastIndex_ at the last measurement
    std::int64_t rateAt_ = 0;      // and its time
};

}  // namespace tarvo::rt
