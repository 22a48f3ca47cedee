// Ticks and labels of the chart's axes.
//
// Times are labelled in seconds ("12.5 s"), and once the axis reaches a
// minute as minutes and seconds ("4:10"), or hours ("1:02:30"), with as many
// decimals as the step between ticks needs. A run whose period is not known
// has record numbers for times: its ticks are whole records.
#pragma once

#include <string>
#include <vector>

#include "view_range.h"

namespace tarvo::view {

struct Tick {
    double at = 0;  // µs, or a value
    std::string label;
};

// Ticks of a time span drawn `pixels` wide, at least `spacing` pixels apart.
// `scaleEnd`: the end of the whole axis (the labels keep one form over it).
std::vector<Tick> timeTicks(Span span, double pixels, double spacing, double scaleEnd,
                            bool periodKnown);

// Ticks of values lo..hi drawn `pixels` high, at least `spacing` apart.
std::vector<Tick> valueTicks(double lo, double hi, double pixels, double spacing);

// A time for the readout: seconds to the microsecond ("12.345678 s"), with
// hours, minutes and seconds beside it once it reaches a minute.
std::string readoutTime(double us, bool periodKnown);

// A duration in a few figures: "1.4 s", "59.998 s", "4:10", "6:06:40".
std::string durationText(double us);

}  // namespace tarvo::view
