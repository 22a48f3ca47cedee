// Faults of the disk and the working directory, end to end: a disk that
// fills up during a run, a directory tarvo may not write to, a data file it
// may not overwrite. Permission bits do not stop root, so when the tests run
// as root tarvo runs as nobody for the permission cases.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "faults.h"

namespace fs = std::filesystem;

namespace {

const char kSampling[] = "Sampling...";
const char kDone[] = "Data recorded in DATA.TXT, config parameter in CONFIG.TXT";
const char kWriteFail[] = " ERROR: Cannot write DATA.TXT! Sampling stopped.";
const char kNoData[] = " ERROR: Cannot create DATA.TXT!";
const char kNoReport[] = " ERROR: Cannot create CONFIG.TXT!";

using Strings = std::vector<std::string>;

// What every disk-full run must show: the error once, the records up to the
// point where the disk took no more exactly as the board sent them, and a
// program that still answers Stop.
void expectStoppedCleanly(const ProcResult& r, const std::string& data, const Recording& rec,
                          const Panel& p, size_t capacity, const std::string& name)
{
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.timedOut);
    Strings m = messages(r.out);
    ASSERT_GE(m.size(), 3u) << r.out;
    EXPECT_EQ(m[0], kSampling);
    EXPECT_EQ(m[1], kWriteFail);
    EXPECT_EQ(m[2], kDone);
    Compared c = compareWithBoard(data, decode(rec.boardDump(), p));
    // The disk was filled: what fitted was written, nothing dropped before,
    // and the file cut back to its last whole record.
    // (run.json takes a block of its own.)
    EXPECT_GT(data.size() + 8192, capacity) << data.size() << " bytes on a disk of " << capacity;
    EXPECT_GT(c.whole, 1000u);
    EXPECT_FALSE(c.partialTail);
    EXPECT_EQ(data.back(), '\n');
    figures(name, r.seconds,
            std::to_string(c.whole) + " whole records compared, " + std::to_string(data.size()) +
                " bytes written");
}

// tarvo under a file-size limit of `bytes`: its writes then fail as on a
// full disk (EFBIG for ENOSPC), without privileges.
std::unique_ptr<Proc> spawnWithFileLimit(Recording& rec, const std::string& script, size_t bytes)
{
    return spawnWrapped(rec, script,
                        {"/usr/bin/prlimit", "--fsize=" + std::to_string(bytes), "--", "/bin/sh",
                         "-c", "trap '' XFSZ; exec \"$@\"", "sh"});
}

}  // namespace

// A file-size limit gives the write the error a full disk gives (EFBIG for
// ENOSPC), and works without privileges.
TEST(DiskFaults, TheDiskFillsUpDuringARun)
{
    constexpr size_t kLimit = 200000;
    Recording rec;
    rec.startBoard({"--flood", "--records", "100000"});
    Panel p;
    std::unique_ptr<Proc> t =
        spawnWithFileLimit(rec, p.lines() + "press start\nwait 2\npress stop\n", kLimit);
    ProcResult r = t->wait(60);
    rec.stopBoard();
    expectStoppedCleanly(r, rec.data(), rec, p, kLimit, "disk full (file-size limit)");
    Strings m = messages(r.out);
    EXPECT_EQ(m.size(), 3u);  // the small report still fits
    EXPECT_NE(rec.config().find("The number of samples"), std::string::npos);
}

// A real full file system: a small tmpfs over the working directory, in a
// mount namespace of tarvo's own (root only).
TEST(DiskFaults, ASmallFileSystemRunsFull)
{
    if (geteuid() != 0 || std::system("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root and mount namespaces; the file-size limit case stands in";
    constexpr size_t kSize = 256 * 1024;
    Recording rec;
    rec.startBoard({"--flood", "--records", "100000"});
    Panel p;
    fs::create_directories(rec.dir.file("out"));
    fs::create_directories(rec.work());
    // tarvo's files are copied out before the namespace, and the tmpfs, end.
    const std::string sh =
        "mount -t tmpfs -o size=" + std::to_string(kSize) +
        " tarvo-full \"$0\" && cd \"$0\" && "
        "\"$@\"; st=$?; cp data.txt config.txt \"$0/../out/\" 2>/dev/null; exit $st";
    std::unique_ptr<Proc> t = spawnWrapped(
        rec, p.lines() + "press start\nwait 2\npress stop\n",
        {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", sh, rec.work()});
    ProcResult r = t->wait(60);
    rec.stopBoard();
    const std::string data = readfile(rec.dir.file("out/data.txt"));
    expectStoppedCleanly(r, data, rec, p, kSize, "disk full (tmpfs)");
    // The report found no room either, says so, and leaves no part of itself.
    Strings m = messages(r.out);
    ASSERT_EQ(m.size(), 4u) << r.out;
    EXPECT_EQ(m[3], " ERROR: Cannot write CONFIG.TXT!");
    EXPECT_FALSE(fs::exists(rec.dir.file("out/config.txt")));
    EXPECT_NE(r.err.find("config.txt: the disk took no more; no report was written"),
              std::string::npos)
        << r.err;
}

// Raw records on a full disk: the file holds whole records only, each byte
// as the board sent it.
TEST(DiskFaults, RawRecordsOnAFullDiskEndWithAWholeRecord)
{
    constexpr size_t kLimit = 100001;  // no multiple of a record's 13 bytes
    Recording rec;
    rec.startBoard({"--flood", "--records", "100000"});
    Panel p;
    p.num_ch = 8, p.wfile = 0;  // 12 bytes of samples and the status byte
    std::unique_ptr<Proc> t =
        spawnWithFileLimit(rec, p.lines() + "press start\nwait 2\npress stop\n", kLimit);
    ProcResult r = t->wait(60);
    rec.stopBoard();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(messages(r.out), (Strings{kSampling, kWriteFail, kDone}));
    const std::string data = rec.data();
    const std::vector<unsigned char> dump = rec.boardDump();
    const std::string sent(dump.begin(), dump.end());
    EXPECT_EQ(data.size() % 13, 0u) << data.size();
    EXPECT_GT(data.size() + 13, kLimit - 4096);
    ASSERT_LE(data.size(), sent.size());
    const auto diff = std::mismatch(data.begin(), data.end(), sent.begin());
    EXPECT_EQ(diff.first, data.end())
        << "first difference at byte " << (diff.first - data.begin()) << " of " << data.size();
}

TEST(DiskFaults, AWorkingDirectoryThatCannotBeWrittenLeavesTheProgramUsable)
{
    Recording rec;  // the virtual board
    const std::string bin = publicCopy(rec.dir);
    fs::create_directories(rec.work());
    ::chmod(rec.work().c_str(), 0555);
    std::unique_ptr<Proc> t = spawnWrapped(
        rec, Panel().lines() + "press start\nwait 0.5\npress start\nwait 0.5\npress stop\n",
        unprivileged(), bin);
    ProcResult r = t->wait(60);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.timedOut);
    Strings m = messages(r.out);
    ASSERT_GE(m.size(), 3u) << r.out;
    // Each Start says it, and the program goes on to Stop.
    EXPECT_EQ(m.front(), kNoData);
    EXPECT_EQ(m[m.size() - 2], kDone);
    EXPECT_EQ(m.back(), kNoReport);
    EXPECT_TRUE(fs::is_empty(rec.work()));
    figures("working directory not writable", r.seconds, "no file created, exit status 0");
}

TEST(DiskFaults, AReadOnlyDataFileIsNeitherOverwrittenNorLost)
{
    Recording rec;
    const std::string bin = publicCopy(rec.dir);
    fs::create_directories(rec.work());
    ::chmod(rec.work().c_str(), 0777);  // the report may be written
    const std::string earlier = "an earlier run\n1,2,3\n";
    std::ofstream(rec.work() + "/data.txt") << earlier;
    ::chmod((rec.work() + "/data.txt").c_str(), 0444);
    std::unique_ptr<Proc> t = spawnWrapped(
        rec, Panel().lines() + "press start\nwait 0.5\npress stop\n", unprivileged(), bin);
    ProcResult r = t->wait(60);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(messages(r.out), (Strings{kNoData, kDone}));
    EXPECT_EQ(rec.data(), earlier);
    EXPECT_TRUE(rec.exists("config.txt"));
    figures("read-only data.txt", r.seconds, "data.txt unchanged, report written");
}
