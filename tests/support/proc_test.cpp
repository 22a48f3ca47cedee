// The child-process wrapper on real processes: what tarvo-bench reads from
// it (stdout line by line, an end awaited without a kill, given streams)
// and what the tests read (the result of a wait that kills).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "proc.h"
#include "pty.h"

namespace {

Proc::Clock::time_point after(double seconds)
{
    return Proc::Clock::now() + std::chrono::duration_cast<Proc::Clock::duration>(
                                    std::chrono::duration<double>(seconds));
}

}  // namespace

TEST(Proc, StdoutComesLineByLineAndEndsWithTheProcess)
{
    Proc p({"/bin/sh", "-c", "echo one; echo two >&2; printf 'three\\nfour'; exit 3"});
    auto first = p.nextLine(after(30));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->first, "one");
    EXPECT_GE(first->second, p.started());
    auto second = p.nextLine(after(30));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->first, "three");
    EXPECT_FALSE(p.nextLine(after(30)));  // "four" never ends its line
    ASSERT_TRUE(p.exited());
    EXPECT_EQ(p.exited()->status, 3);
    const ProcResult r = p.wait(30);
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "one\nthree\nfour");
    EXPECT_EQ(r.err, "two\n");
}

TEST(Proc, AnAwaitedEndLeavesTheProcessRunningAndAWaitKillsIt)
{
    Proc p({"/bin/sleep", "60"});
    EXPECT_FALSE(p.awaitExit(after(0.2)));
    EXPECT_EQ(kill(p.pid(), 0), 0);  // still there
    p.signal(SIGTERM);
    ASSERT_TRUE(p.awaitExit(after(30)));
    EXPECT_EQ(p.exited()->status, 128 + SIGTERM);

    Proc q({"/bin/sleep", "60"});
    const ProcResult r = q.wait(0.2);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.status, 128 + SIGKILL);
}

TEST(Proc, GivenStreamsAndDirectoryAreTheChildsOwn)
{
    TempDir dir;
    {
        std::ofstream(dir.file("in.txt")) << "through cat\n";
    }
    const int input = open(dir.file("in.txt").c_str(), O_RDONLY | O_CLOEXEC);
    const int output =
        open(dir.file("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);
    Proc cat({"/bin/sh", "-c", "cat; pwd >&2"}, dir.path(),
             ProcStreams{input, output, dir.file("err.txt"), {}});
    close(input);
    close(output);
    ASSERT_TRUE(cat.awaitExit(after(30)));
    EXPECT_EQ(cat.exited()->status, 0);
    EXPECT_EQ(readfile(dir.file("out.txt")), "through cat\n");
    EXPECT_EQ(readfile(dir.file("err.txt")), dir.path() + "\n");
}
