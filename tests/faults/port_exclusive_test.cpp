// The port tarvo records from is its own: while it runs, another program
// (another user's, since root opens an exclusive port anyway) cannot open the
// board's pseudo-terminal; once tarvo has ended, whether by Stop or killed
// outright, it can.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "faults.h"

namespace {

constexpr int kNoUser = 255;

// Opens `path` as an unprivileged user (nobody when the tests run as root)
// and closes it again: 0 when the open succeeds, else its errno; kNoUser
// when no unprivileged user can be had.
int openUnprivileged(const std::string& path)
{
    if (geteuid() != 0) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return errno;
        close(fd);
        return 0;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(kNoUser);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int st = 0;
    if (pid < 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st))
        return kNoUser;
    return WEXITSTATUS(st);
}

std::string why(int err) { return err == kNoUser ? "no unprivileged user" : std::strerror(err); }

}  // namespace

TEST(PortOwnership, WhileTarvoRecordsNoOtherUserOpensThePortAndOnceItHasEndedOneCan)
{
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "tarvo killed" : "tarvo stopped");
        Recording rec;
        rec.startBoard();
        // The slave belongs to whoever runs the test; nobody may use it too.
        if (geteuid() == 0) {
            ASSERT_EQ(chmod(rec.device.c_str(), 0666), 0);
        }
        const int before = openUnprivileged(rec.device);
        if (before == kNoUser)
            GTEST_SKIP() << "no unprivileged user to open the port as";
        ASSERT_EQ(before, 0) << why(before);

        Panel p;
        std::unique_ptr<Proc> t = rec.spawn(
            p.lines() + (killed ? "press start\nwait 600\n" : "press start\nwait 3\npress stop\n"));
        ASSERT_TRUE(
            waitUntil([&] { return rec.boardLog().find("streaming") != std::string::npos; }, 30))
            << rec.boardLog();
        const int during = openUnprivileged(rec.device);
        EXPECT_EQ(during, EBUSY) << why(during);

        if (killed)
            t->signal(SIGKILL);
        ProcResult r = t->wait(60);
        EXPECT_FALSE(r.timedOut);
        if (!killed) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(messages(r.out).front(), "Sampling...");
        }
        // A killed tarvo leaves the port exclusive; the board clears that once
        // it has seen the port closed.
        int after = -1;
        EXPECT_TRUE(waitUntil([&] { return (after = openUnprivileged(rec.device)) == 0; }, 30))
            << why(after) << "\n"
            << rec.boardLog();
        rec.stopBoard();
        figures(std::string("another user's open while tarvo records, tarvo then ") +
                    (killed ? "killed" : "stopped"),
                r.seconds, "refused (EBUSY) during the run, allowed after it");
    }
}
