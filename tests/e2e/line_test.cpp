// The virtual board's line: a period too short for the baud rate loses the
// records the line cannot carry, as a real board's would, and tarvo's lost
// count, the counter column of data.txt and the board's own records agree.
#include <gtest/gtest.h>

#include <regex>

#include "recorder.h"

TEST(Line, AVirtualBoardTooFastForItsLineLosesWhatTheLineCannotCarry)
{
    // 6 channels with status byte (10-byte records) every 3420 us, the
    // shortest period of the third rate class: 292 records a second.
    const struct {
        unsigned baud;
        double carried;  // the share of the records the line carries
    } cases[] = {
        // The records' link is 8E1, 11 bit times a byte: baud / 110 records a second.
        {9600, 87.27 / 292.4},    // 872.7 bytes/s: 87.27 records a second
        {19200, 174.55 / 292.4},  // 174.55 a second
        {38400, 1.0},             // 349 a second: room for every record
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + " bit/s");
        Recording rec;  // the virtual board
        Panel p;
        p.baudr = c.baud;
        p.SampPer = 3420;
        const ExpectedCycle cycle(p);
        const ProcResult r = rec.run(p.lines() + "press start\nwait 3\npress stop\n");
        ASSERT_EQ(r.status, 0) << r.err;

        // The record numbers from the counter column (every gap is far below
        // 16 records), and each line the board's record of that number.
        const std::vector<std::string> lines = splitlines(rec.data());
        ASSERT_GT(lines.size(), 200u);
        uint64_t n = 0, gaps = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const uint64_t counter = std::stoul(lines[i].substr(lines[i].rfind(',') + 1));
            const uint64_t step = (counter - n) & 15u;
            ASSERT_NE(step, 0u) << "line " << i + 1 << ": " << lines[i];
            gaps += step - 1;
            n += step;
            ASSERT_EQ(lines[i], cycle.of(n)) << "line " << i + 1 << ", record " << n;
        }

        // tarvo counted as lost exactly the records missing from data.txt.
        const std::string info = readfile(rec.work() + "/run.json");
        std::smatch lost;
        ASSERT_TRUE(std::regex_search(info, lost, std::regex("\"lost\": (\\d+)"))) << info;
        EXPECT_EQ(std::stoull(lost[1]), gaps) << info;
        const double share = double(lines.size()) / double(n);
        if (c.carried >= 1.0) {
            EXPECT_EQ(gaps, 0u);
            EXPECT_EQ(messages(r.out).size(), 2u) << r.out;  // no loss warning
        } else {
            EXPECT_NEAR(share, c.carried, 0.02) << lines.size() << " of " << n << " records";
            EXPECT_NE(r.out.find(" WARNING: data loss...Sampling continue!"), std::string::npos);
        }
    }
}
