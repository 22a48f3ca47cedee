// The view's moves and the axis's labels, worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axis.h"
#include "view_range.h"

using namespace tarvo::view;

namespace {

// A run of 100 µs whose narrowest view is 8 µs.
const Limits kRun{100, 8};

}  // namespace

TEST(ViewRange, ZoomKeepsTheTimeUnderThePointerWhereItIs)
{
    struct Case {
        const char* what;
        Span view;
        double at, factor;
        Span want;
    } cases[] = {
        {"in by half at 30 of the whole run", {0, 100}, 30, 0.5, {15, 65}},
        {"in at the right edge", {20, 60}, 60, 0.5, {40, 60}},
        {"out past the run's end: shifted back in, as wide", {80, 100}, 90, 2, {60, 100}},
        {"out past the whole run: the whole run", {40, 60}, 50, 10, {0, 100}},
        {"in below the narrowest view: the narrowest, about the pointer",
         {0, 100},
         50,
         0.001,
         {46, 54}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Span got = zoomed(c.view, c.at, c.factor, kRun);
        EXPECT_DOUBLE_EQ(got.from, c.want.from);
        EXPECT_DOUBLE_EQ(got.to, c.want.to);
    }
}

TEST(ViewRange, PanMovesByATimeAndStopsAtTheEdgesOfTheRun)
{
    struct Case {
        const char* what;
        Span view;
        double by;
        Span want;
    } cases[] = {
        {"later", {10, 30}, 5, {15, 35}},
        {"earlier than the start", {10, 30}, -20, {0, 20}},
        {"later than the end", {70, 90}, 50, {80, 100}},
        {"a view wider than the run", {-10, 150}, 0, {0, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(panned(c.view, c.by, kRun), c.want);
    }
    // A run shorter than the narrowest view is shown whole.
    EXPECT_EQ(clamped({1, 3}, {5, 8}), (Span{0, 5}));
}

TEST(Axis, TicksAreLabelledInSecondsAClockOrRecords)
{
    struct Case {
        const char* what;
        Span span;
        double pixels, spacing, end;
        bool periodKnown;
        std::vector<std::string> want;
    } cases[] = {
        {"1.4 s run",
         {0, 1.4e6},
         1200,
         150,
         1.4e6,
         true,
         {"0.0 s", "0.2 s", "0.4 s", "0.6 s", "0.8 s", "1.0 s", "1.2 s", "1.4 s"}},
        {"10 ms of it",
         {0.5e6, 0.51e6},
         1000,
         180,
         1.4e6,
         true,
         {"0.500 s", "0.502 s", "0.504 s", "0.506 s", "0.508 s", "0.510 s"}},
        {"two minutes of a 10-minute run",
         {60e6, 180e6},
         1000,
         110,
         600e6,
         true,
         {"1:00", "1:15", "1:30", "1:45", "2:00", "2:15", "2:30", "2:45", "3:00"}},
        {"a 6-hour run",
         {0, 22000e6},
         1200,
         150,
         22000e6,
         true,
         {"0:00:00", "1:00:00", "2:00:00", "3:00:00", "4:00:00", "5:00:00", "6:00:00"}},
        {"no period known: records",
         {0, 50e6},
         1000,
         100,
         50e6,
         false,
         {"0", "5", "10", "15", "20", "25", "30", "35", "40", "45", "50"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> got;
        for (const Tick& t : timeTicks(c.span, c.pixels, c.spacing, c.end, c.periodKnown))
            got.push_back(t.label);
        EXPECT_EQ(got, c.want);
    }
    std::vector<std::string> values;
    for (const Tick& t : valueTicks(0, 4095, 400, 80))
        values.push_back(t.label);
    EXPECT_EQ(values, (std::vector<std::string>{"0", "1000", "2000", "3000", "4000"}));
}

TEST(Axis, DurationsAndReadoutTimes)
{
    EXPECT_EQ(durationText(1.4e6), "1.4 s");
    EXPECT_EQ(durationText(59.998e6), "59.998 s");
    EXPECT_EQ(durationText(250e6), "4:10");
    EXPECT_EQ(durationText(22000.22e6), "6:06:40");
    EXPECT_EQ(readoutTime(600000, true), "0.600000 s");
    EXPECT_EQ(readoutTime(3723.5e6, true), "3723.500000 s (1:02:03.500)");
}
