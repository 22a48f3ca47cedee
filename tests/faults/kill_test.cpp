// A run killed outright (SIGKILL: no handler runs, as in a crash or a power
// cut for what reached the disk): data.txt keeps every record but those of
// about the last second, and every line it has is the board's.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include "faults.h"
#include "serial_lock.h"

namespace {

struct Killed {
    Compared c;
    long sent = -1;  // records the board had sent when the port closed
    double seconds = 0;
};

Killed killDuringARun(const Panel& p, double after)
{
    Killed k;
    Recording rec;
    rec.startBoard();
    std::unique_ptr<Proc> t = rec.spawn(p.lines() + "press start\nwait 600\n");
    EXPECT_TRUE(messageShown(*t));
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    t->signal(SIGKILL);
    ProcResult r = t->wait(10);
    EXPECT_EQ(r.status, 128 + SIGKILL);
    k.seconds = r.seconds;
    // The board sees the port close when the process is gone.
    k.sent = recordsWhenClosed(rec, 10);
    EXPECT_GT(k.sent, 0) << rec.boardLog();
    rec.stopBoard();
    // The lock file of the killed process is stale; the next user of the
    // pty number would take it over, but it is this test's litter.
    if (!tarvo::rt::lockDirectory().empty())
        std::filesystem::remove(tarvo::rt::lockDirectory() + "/" +
                                tarvo::rt::lockFileName(rec.device));
    k.c = compareWithBoard(rec.data(), decode(rec.boardDump(), p));
    EXPECT_EQ(k.c.sent, (size_t)k.sent);
    return k;
}

}  // namespace

TEST(Kill, ARunKilledOutrightLosesAtMostAboutTheLastSecond)
{
    Panel p;
    p.SampPer = 5000;  // 200 records a second
    Killed k = killDuringARun(p, 3.5);
    const long lost = k.sent - (long)k.c.whole;
    EXPECT_GT(k.c.whole, 400u);
    // The file is flushed when the second changes: at most a second of
    // records is in the buffer, plus what the line still held. Two seconds
    // leave room for a loaded machine.
    EXPECT_LE(lost, 2 * 200) << k.c.whole << " of " << k.sent << " records on disk";
    figures("SIGKILL, 5 ms period", k.seconds,
            std::to_string(k.c.whole) + " of " + std::to_string(k.sent) + " records on disk (" +
                std::to_string(lost) + " lost), every line compared");
}

TEST(Kill, AtLongPeriodsEveryRecordIsOnDiskWhenKilled)
{
    Panel p;
    p.num_ch = 2;
    p.SampPer = 100000;  // 10 records a second: each is flushed
    Killed k = killDuringARun(p, 2.55);
    const long lost = k.sent - (long)k.c.whole;
    EXPECT_GE(k.c.whole, 15u);
    EXPECT_FALSE(k.c.partialTail);
    // At most the record on the line when the kill came.
    EXPECT_LE(lost, 1) << k.c.whole << " of " << k.sent << " records on disk";
    figures("SIGKILL, 100 ms period", k.seconds,
            std::to_string(k.c.whole) + " of " + std::to_string(k.sent) + " records on disk (" +
                std::to_string(lost) + " lost)");
}
