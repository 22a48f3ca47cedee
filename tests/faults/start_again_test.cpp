// Start pressed again after a Start whose data.txt could not be created: the
// handshake ran, the run never began, and the user clears the way and tries
// again. The board takes the new break whatever became of the old handshake.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "faults.h"

namespace fs = std::filesystem;

namespace {

const char kNoData[] = " ERROR: Cannot create DATA.TXT!";
const char kSampling[] = "Sampling...";

}  // namespace

TEST(StartAgain, AfterDataTxtCouldNotBeCreatedTheNextStartRecordsWhatTheBoardSends)
{
    // Pressed again soon, while tarvo-board still holds the configuration of
    // the handshake before, and late, once it has given that handshake up.
    for (const char* wait : {"2", "5"}) {
        SCOPED_TRACE(std::string("Start again after ") + wait + " s");
        Recording rec;
        rec.startBoard();
        Panel p;
        fs::create_directories(rec.work() + "/data.txt");  // a directory: no file of that name
        std::unique_ptr<Proc> t = rec.spawn(p.lines() + "press start\nwait " + wait +
                                            "\npress start\nwait 2\npress stop\n");
        ASSERT_TRUE(messageShown(*t));
        EXPECT_EQ(messages(t->out()).front(), kNoData);
        fs::remove(rec.work() + "/data.txt");
        ProcResult r = t->wait(60);
        rec.stopBoard();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.timedOut);
        const std::vector<std::string> m = messages(r.out);
        ASSERT_GE(m.size(), 2u) << r.out;
        EXPECT_EQ(m[0], kNoData);
        EXPECT_EQ(m[1], kSampling) << r.out;

        // Every line is the board's record, from the first of the run on.
        Compared c = compareWithBoard(rec.data(), decode(rec.boardDump(), p));
        EXPECT_GT(c.whole, 400u) << "about 1000 records in 2 s";
        // Stop wrote the run report, with the records it counted.
        const std::string report = rec.config();
        const size_t count =
            std::strtoul(report.substr(report.rfind(' ') + 1).c_str(), nullptr, 10);
        EXPECT_TRUE(count == c.whole || count == c.whole + 1) << report;
        figures(
            std::string("Start again after ") + wait + " s, data.txt not created the first time",
            r.seconds, std::to_string(c.whole) + " records compared");
    }
}
