// The part of a run's time axis that the chart shows, and how zoom and pan
// move it. Times are microseconds from the run's first record.
//
// A view never leaves the run: it lies within [0, end], where `end` is the
// end of the last record's period, and it is never narrower than
// `minWidth` (a few periods: single records, well apart) unless the run
// itself is shorter. Zoom keeps the time under the pointer where it is on
// the screen; pan moves the view by a time and stops at the run's edges
// without changing its width.
#pragma once

namespace tarvo::view {

struct Span {
    double from = 0, to = 0;
    double width() const { return to - from; }
    bool operator==(const Span&) const = default;
};

struct Limits {
    double end = 0;       // the run's extent
    double minWidth = 0;  // the narrowest view
};

// `s` moved and sized to fit the limits: as wide as the run at most, at
// least minWidth (about its middle), then shifted inside [0, end].
Span clamped(Span s, const Limits& limits);

// Zoom by `factor` (below 1: in) about time `at`, which stays at the same
// place of the view.
Span zoomed(Span s, double at, double factor, const Limits& limits);

// Pan by `by` microseconds (positive: later).
Span panned(Span s, double by, const Limits& limits);

}  // namespace tarvo::view
