// A script acts as a user would: during a run the settings and Start are
// greyed out, so a `set` or `press` of them is refused with a line on stderr,
// and the run goes on with the settings it began with.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "recorder.h"

TEST(Script, SetsAndPressesOfGreyedControlsDuringARunAreRefusedAndTheRunGoesOn)
{
    Recording rec;  // the virtual board
    ProcResult r = rec.run(
        "set 2 1\nset 6 6\nset 10 2000\nset 13 1\npress start\nwait 1\n"
        "set 6 8\nset 10 5000\npress start\n"  // lines 7 to 9
        "wait 1\npress stop\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const char* const refused[] = {
        ":7: control 6 is greyed out; not set\n",
        ":8: control 10 is greyed out; not set\n",
        ":9: start is greyed out; not pressed\n",
    };
    for (const char* line : refused)
        EXPECT_NE(r.err.find(line), std::string::npos) << line << " in:\n" << r.err;
    // Before the run the same controls were set: nothing refused there.
    EXPECT_EQ(r.err.find(":2: "), std::string::npos) << r.err;
    // The run is the one begun: six channels every 2000 us.
    const std::string report = rec.config();
    for (const char* line :
         {"Number of Analogical channels:  6", "with a sample period of [us]:  2000"})
        EXPECT_NE(report.find(line), std::string::npos) << line << " in\n" << report;
    const std::vector<std::string> lines = splitlines(rec.data());
    ASSERT_GT(lines.size(), 200u);
    const auto columns = std::count(lines.front().begin(), lines.front().end(), ',');
    for (const std::string& l : lines)
        ASSERT_EQ(std::count(l.begin(), l.end(), ','), columns) << l;
}
