// Port ownership: a port that another process holds is refused with the
// reason, whether that process flocks it (tarvo, picocom) or keeps the
// serial tools' lock file (minicom, cu); the lock file of a process that is
// gone is taken over.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "com_table.h"
#include "faults.h"
#include "runtime.h"
#include "serial_lock.h"

namespace fs = std::filesystem;
using tarvo::rt::DeviceLockFile;
using tarvo::rt::lastComError;
using tarvo::rt::lockDirectory;
using tarvo::rt::lockFileName;

namespace {

std::string pidText(pid_t pid)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%10d\n", (int)pid);
    return buf;
}

bool mentions(const std::string& text, const std::string& word)
{
    return text.find(word) != std::string::npos;
}

// A process id that no process has: a child that has been reaped.
pid_t deadPid()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

void writeLock(const std::string& path, const std::string& contents)
{
    std::ofstream(path, std::ios::binary) << contents;
}

}  // namespace

TEST(LockFile, NamesFollowTheSerialToolsConvention)
{
    EXPECT_EQ(lockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(lockFileName("/dev/ttyS3"), "LCK..ttyS3");
    Pty pty;
    // /dev/pts/7 -> LCK..pts_7, and a symlink to it names the same lock.
    const std::string name = lockFileName(pty.slavePath());
    EXPECT_EQ(name, "LCK.." + pty.slavePath().substr(5).replace(3, 1, "_"));
    TempDir dir;
    fs::create_symlink(pty.slavePath(), dir.file("board"));
    EXPECT_EQ(lockFileName(dir.file("board")), name);
#if defined(__linux__)
    EXPECT_FALSE(lockDirectory().empty());
#endif
}

TEST(LockFile, HoldsThisProcessIdAsTenCharactersAndGoesOnRelease)
{
    TempDir dir;
    DeviceLockFile lock;
    ASSERT_EQ(lock.acquire("/dev/ttyUSB7", dir.path()), "");
    EXPECT_EQ(lock.path(), dir.file("LCK..ttyUSB7"));
    EXPECT_EQ(readfile(dir.file("LCK..ttyUSB7")), pidText(getpid()));
    struct stat st {};
    ASSERT_EQ(stat(lock.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);  // other programs read the process id
    lock.release();
    EXPECT_FALSE(fs::exists(dir.file("LCK..ttyUSB7")));
    // Nothing else was left in the directory.
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(LockFile, ALockOfARunningProcessIsRefusedWithItsId)
{
    TempDir dir;
    // A holder that runs: this test's parent, say a terminal program.
    const pid_t holder = getppid();
    writeLock(dir.file("LCK..ttyUSB7"), pidText(holder));
    DeviceLockFile lock;
    const std::string why = lock.acquire("/dev/ttyUSB7", dir.path());
    EXPECT_TRUE(mentions(why, "busy")) << why;
    EXPECT_TRUE(mentions(why, std::to_string(holder))) << why;
    EXPECT_EQ(lock.path(), "");
    EXPECT_EQ(readfile(dir.file("LCK..ttyUSB7")), pidText(holder));  // untouched
    // Two holders in this process: the second is refused too.
    DeviceLockFile first, second;
    ASSERT_EQ(first.acquire("/dev/ttyUSB8", dir.path()), "");
    EXPECT_TRUE(mentions(second.acquire("/dev/ttyUSB8", dir.path()), "busy"));
    EXPECT_EQ(readfile(dir.file("LCK..ttyUSB8")), pidText(getpid()));
}

TEST(LockFile, StaleLocksAreTakenOver)
{
    TempDir dir;
    // The process that wrote it is gone (killed, or the machine lost power).
    writeLock(dir.file("LCK..ttyUSB7"), pidText(deadPid()));
    DeviceLockFile lock;
    EXPECT_EQ(lock.acquire("/dev/ttyUSB7", dir.path()), "");
    EXPECT_EQ(readfile(dir.file("LCK..ttyUSB7")), pidText(getpid()));

    // Contents that name no process: held while they may be being written,
    // stale once they are old.
    writeLock(dir.file("LCK..ttyUSB8"), "");
    DeviceLockFile other;
    EXPECT_TRUE(mentions(other.acquire("/dev/ttyUSB8", dir.path()), "busy"));
    const timeval old[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
    ASSERT_EQ(utimes(dir.file("LCK..ttyUSB8").c_str(), old), 0);
    EXPECT_EQ(other.acquire("/dev/ttyUSB8", dir.path()), "");
    EXPECT_EQ(readfile(dir.file("LCK..ttyUSB8")), pidText(getpid()));
}

TEST(LockFile, WithoutAWritableLockDirectoryThePortIsUsedUnlocked)
{
    DeviceLockFile lock;
    // Not a directory at all: the same answer as a directory without write
    // permission, whoever runs the test.
    EXPECT_EQ(lock.acquire("/dev/ttyUSB7", "/dev/null/lock"), "");
    EXPECT_EQ(lock.path(), "");
}

// --- through the serial layer and the real program -------------------------

namespace {

constexpr int kPort = 7;

std::string systemLock(const std::string& device)
{
    return lockDirectory() + "/" + lockFileName(device);
}

}  // namespace

TEST(PortOwnership, AnOpenPortHoldsTheSystemLockFileUntilClosed)
{
    if (lockDirectory().empty() || access(lockDirectory().c_str(), W_OK) != 0)
        GTEST_SKIP() << "no writable lock directory";
    Pty pty;
    const std::string lock = systemLock(pty.slavePath());
    ASSERT_EQ(OpenComConfig(kPort, pty.slavePath().c_str(), 19200, 0, 8, 1, 64, 64), 0);
    EXPECT_EQ(readfile(lock), pidText(getpid()));
    ASSERT_EQ(CloseCom(kPort), 0);
    EXPECT_FALSE(fs::exists(lock));
}

TEST(PortOwnership, APortInAnotherProgramsLockFileIsRefusedAsBusy)
{
    if (lockDirectory().empty() || access(lockDirectory().c_str(), W_OK) != 0)
        GTEST_SKIP() << "no writable lock directory";
    Pty pty;
    const std::string lock = systemLock(pty.slavePath());
    // A terminal program that keeps the lock file and nothing else.
    Proc terminal({"/bin/sleep", "30"});
    writeLock(lock, pidText(terminal.pid()));
    EXPECT_EQ(OpenComConfig(kPort, pty.slavePath().c_str(), 19200, 0, 8, 1, 64, 64), COM_ERR_OPEN);
    const std::string why = lastComError(kPort);
    EXPECT_TRUE(mentions(why, "busy: locked by process " + std::to_string(terminal.pid()))) << why;
    EXPECT_EQ(readfile(lock), pidText(terminal.pid()));
    // The terminal program ends without removing its lock: the port is free.
    terminal.signal(SIGKILL);
    terminal.wait(10);
    ASSERT_EQ(OpenComConfig(kPort, pty.slavePath().c_str(), 19200, 0, 8, 1, 64, 64), 0);
    EXPECT_EQ(readfile(lock), pidText(getpid()));
    ASSERT_EQ(CloseCom(kPort), 0);
    EXPECT_FALSE(fs::exists(lock));
}

TEST(PortOwnership, ASecondTarvoOnTheSameBoardIsRefusedAndTheFirstRecordsOn)
{
    Recording first;
    Panel p;
    std::unique_ptr<Proc> one = startRun(first, p, "press start\nwait 4\npress stop\n");
    ASSERT_TRUE(one);

    Recording second;
    second.device = first.device;
    ProcResult two = second.run(p.lines() + "press start\n", 30);
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(messages(two.out), (std::vector<std::string>{" ERROR: Unknown device!"}));
    EXPECT_TRUE(mentions(two.err, "busy")) << two.err;
    EXPECT_FALSE(second.exists("data.txt"));

    ProcResult r = one->wait(30);
    EXPECT_EQ(r.status, 0);
    first.stopBoard();
    Compared c = compareWithBoard(first.data(), decode(first.boardDump(), p));
    EXPECT_GT(c.whole, 500u);
    EXPECT_EQ(messages(r.out),
              (std::vector<std::string>{
                  "Sampling...", "Data recorded in DATA.TXT, config parameter in CONFIG.TXT"}));
    figures("a second tarvo on a held port", two.seconds,
            "refused as busy; the first recorded " + std::to_string(c.whole) + " records");
}

TEST(PortOwnership, TheLockOfAKilledTarvoIsTakenOverByTheNext)
{
    Recording rec;
    Panel p;
    std::unique_ptr<Proc> killed = startRun(rec, p, "press start\nwait 600\n");
    ASSERT_TRUE(killed);
    // "Sampling..." shows just before the start byte goes out: kill the run
    // only once the board streams, or it is killed still configured.
    ASSERT_TRUE(
        waitUntil([&] { return rec.boardLog().find("streaming") != std::string::npos; }, 30))
        << rec.boardLog();
    const pid_t dead = killed->pid();
    killed->signal(SIGKILL);
    killed->wait(10);
    const bool locking = !lockDirectory().empty() && access(lockDirectory().c_str(), W_OK) == 0;
    if (locking) {
        EXPECT_EQ(readfile(systemLock(rec.device)), pidText(dead));
    }
    ASSERT_GT(recordsWhenClosed(rec, 10), 0) << rec.boardLog();  // ready for the next run

    ProcResult r = rec.run(p.lines() + "press start\nwait 1\npress stop\n", 30);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(messages(r.out).front(), "Sampling...");
    EXPECT_GT(splitlines(rec.data()).size(), 200u);
    if (locking) {
        EXPECT_FALSE(fs::exists(systemLock(rec.device)));  // and removed at the end
    }
    rec.stopBoard();
    figures("stale lock of a killed tarvo", r.seconds, "taken over, the run recorded");
}
