// The real tarvo against what happens around a process every day: a stdout
// whose reader leaves or stalls, standard descriptors closed at start, a
// display that is not there, a script saved with a byte-order mark, a device
// path with a newline in it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "recorder.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char kSampling[] = "Sampling...";
const char kLoss[] = " WARNING: data loss...Sampling continue!";
const char kSilent[] = " WARNING: No data from the board...Sampling continue!";

size_t linecount(const std::string& s) { return std::count(s.begin(), s.end(), '\n'); }

std::string writeScript(const Recording& rec, const std::string& text)
{
    fs::create_directories(rec.work());
    std::ofstream(rec.dir.file("script.txt")) << text;
    return rec.dir.file("script.txt");
}

// tarvo's command line for a run of `rec`.
std::vector<std::string> tarvoArgs(const Recording& rec)
{
    return {
        binpath("tarvo"),          "-platform", "offscreen", "--com", "1=" + rec.device, "--script",
        rec.dir.file("script.txt")};
}

// The records in data.txt are exactly the first records the board sent.
void expectBoardsRecords(Recording& rec, const Panel& p)
{
    const std::string data = rec.data();
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.back(), '\n') << "the last line is cut";
    std::vector<std::string> lines = splitlines(data);
    std::vector<std::string> sent = decode(rec.boardDump(), p);
    ASSERT_GE(sent.size(), lines.size());
    sent.resize(lines.size());
    EXPECT_EQ(lines, sent);
}

unsigned reportCount(const std::string& text)
{
    auto at = text.rfind("  ");
    return at == std::string::npos ? ~0u : std::stoul(text.substr(at + 2));
}

// A variable of the environment changed (or removed, for nullopt) while it lives.
class EnvVar {
public:
    EnvVar(const char* name, std::optional<std::string> value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A child whose stdout is the write end of a pipe that the test holds.
class PipedTarvo {
public:
    PipedTarvo(const std::vector<std::string>& argv, const std::string& cwd, int stdoutFd,
               const std::string& errPath)
    {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
        posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> args = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", cwd};
        args.insert(args.end(), argv.begin(), argv.end());
        std::vector<char*> cargv;
        for (auto& a : args)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        if (posix_spawn(&pid_, cargv[0], &fa, nullptr, cargv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~PipedTarvo()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    // The exit status (128 + signal), or -1 when it has not ended within `seconds`.
    int wait(double seconds)
    {
        int status = 0;
        const bool ended =
            waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds);
        if (!ended)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

// Everything that can be read from `fd` now (non-blocking).
std::string readAvailable(int fd)
{
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

}  // namespace

// `tarvo --script run.txt | head -1`: the reader leaves after the first line;
// the run goes on to its end as if stdout were still read.
TEST(Streams, AStdoutWhoseReaderLeftEndsTheEchoAndNothingElse)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    writeScript(rec, p.lines() + "press start\nwait 3\npress stop\n");
    std::vector<std::string> argv = {"/bin/bash", "-c", "\"$@\" | head -1; exit ${PIPESTATUS[0]}",
                                     "bash"};
    for (const std::string& a : tarvoArgs(rec))
        argv.push_back(a);
    ProcResult r = Proc(argv, rec.work()).wait(60);
    rec.stopBoard();
    EXPECT_EQ(r.status, 0) << r.err;  // 141 when SIGPIPE ends it
    EXPECT_EQ(r.out, std::string("message: ") + kSampling + "\n");
    EXPECT_EQ(r.err, "");
    expectBoardsRecords(rec, p);
    ASSERT_TRUE(rec.exists("config.txt")) << "Stop wrote no report";
    const size_t lines = splitlines(rec.data()).size();
    const unsigned count = reportCount(rec.config());
    EXPECT_TRUE(count == lines || count == lines + 1)
        << count << " reported, " << lines << " written";
    EXPECT_GT(lines, 500u);  // three seconds at 2 ms
}

// A stdout that takes nothing (a full pipe nobody reads, a paused terminal)
// holds up no record: data.txt grows meanwhile, and once stdout is read
// again it shows every message, in order, the sampling thread's included.
TEST(Streams, AStalledStdoutHoldsUpNoRecordAndLosesNoMessage)
{
    Recording rec;
    // A lost record (the sampling thread warns), then silence (it warns again).
    rec.startBoard({"--lose-record-every", "200", "--silence-after", "1200"});
    Panel p;
    writeScript(rec, p.lines() + "press start\nwait 600\n");

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // Fill the pipe before tarvo starts: its first message already stalls.
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    const std::string block(4096, 'x');
    size_t filled = 0;
    for (ssize_t n; (n = ::write(fds[1], block.data(), block.size())) > 0;)
        filled += size_t(n);
    ASSERT_EQ(errno, EAGAIN);
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) & ~O_NONBLOCK);
    PipedTarvo t(tarvoArgs(rec), rec.work(), fds[1], rec.dir.file("stderr"));
    ::close(fds[1]);
    ASSERT_GT(t.pid(), 0);

    // 1200 records less the six lost ones, all while nobody reads stdout.
    const size_t expected = 1200 - 1200 / 200;
    EXPECT_TRUE(waitUntil([&] { return splitlines(rec.data()).size() >= expected; }, 60))
        << splitlines(rec.data()).size() << " records in data.txt while stdout stalls";

    // Now stdout is read: the filling first, then the messages in order.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    std::string out;
    ASSERT_TRUE(waitUntil(
        [&] {
            out += readAvailable(fds[0]);
            return out.size() >= filled && messages(out.substr(filled)).size() >= 3;
        },
        30))
        << out.substr(std::min(filled, out.size()));
    ::kill(t.pid(), SIGTERM);
    EXPECT_EQ(t.wait(30), 0);
    out += readAvailable(fds[0]);
    ::close(fds[0]);
    rec.stopBoard();

    ASSERT_GE(out.size(), filled);
    EXPECT_EQ(out.substr(0, filled), std::string(filled, 'x'));
    EXPECT_EQ(messages(out.substr(filled)), (std::vector<std::string>{kSampling, kLoss, kSilent}));
    EXPECT_EQ(splitlines(rec.data()).size(), expected);
    EXPECT_FALSE(rec.exists("config.txt"));
}

// Started with stdin, stdout and stderr closed (a daemon's or a service's
// start), tarvo runs as usual: the three are /dev/null, so nothing it opens
// takes their place (the termination signals' pipe on 1 and 2 would read
// the first line for stderr as a request to quit).
TEST(Streams, ClosedStandardDescriptorsAreNoObstacle)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    writeScript(rec, p.lines() + "press start\nwait 3\npress stop\n");
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" <&- >&- 2>&-", "sh"};
    for (const std::string& a : tarvoArgs(rec))
        argv.push_back(a);
    Proc t(argv, rec.work());
    ASSERT_TRUE(waitUntil([&] { return !rec.data().empty(); }, 30));
    for (int fd = 0; fd <= 2; fd++) {
        std::error_code ec;
        const fs::path target =
            fs::read_symlink("/proc/" + std::to_string(t.pid()) + "/fd/" + std::to_string(fd), ec);
        EXPECT_EQ(target, "/dev/null") << "descriptor " << fd << ": " << ec.message();
    }
    ProcResult r = t.wait(60);
    rec.stopBoard();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    expectBoardsRecords(rec, p);
    EXPECT_GT(splitlines(rec.data()).size(), 300u);
    EXPECT_TRUE(rec.exists("config.txt")) << "the run ended before Stop";
}

// A window system that cannot be had ends tarvo as a start-up failure, with
// one line that says so, not with Qt's abort.
TEST(Streams, NoWindowSystemEndsWith255AndOneLine)
{
    Recording rec;
    writeScript(rec, "press quit\n");
    const std::string script = rec.dir.file("script.txt");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::optional<std::string> display;
        std::string fragment;  // the cause, as the line gives it
    };
    const std::string x93 = "/tmp/.X11-unix/X93";
    const Case cases[] = {
        {"-platform bogus", {"-platform", "bogus"}, std::nullopt, "\"bogus\""},
        {"DISPLAY=:93 without a server", {}, ":93", ":93"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.display && fs::exists(x93))
            GTEST_SKIP() << "an X server listens on :93";
        EnvVar platform("QT_QPA_PLATFORM", std::nullopt);
        EnvVar wayland("WAYLAND_DISPLAY", std::nullopt);
        EnvVar display("DISPLAY", c.display);
        std::vector<std::string> argv = {binpath("tarvo")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.insert(argv.end(), {"--com", "1=virtual", "--script", script});
        ProcResult r = Proc(argv, rec.work()).wait(30);
        EXPECT_EQ(r.status, 255) << r.err;
        EXPECT_EQ(linecount(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("tarvo: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
        EXPECT_FALSE(rec.exists("data.txt"));
    }
}

// A script saved by an editor that starts UTF-8 files with a byte-order mark.
TEST(Streams, AScriptWithAByteOrderMarkRuns)
{
    Recording rec;
    writeScript(rec,
                "\xEF\xBB\xBF"
                "set 2 1\nset 10 2000\npress start\nwait 1\npress stop\n");
    ProcResult r = Proc(tarvoArgs(rec), rec.work()).wait(60);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(messages(r.out).front(), kSampling);
    EXPECT_TRUE(rec.exists("config.txt"));
}

// A newline in a device path cannot forge a second line on stderr: the path
// is quoted with its control characters escaped.
TEST(Streams, ADevicePathIsQuotedOnStderr)
{
    Recording rec;
    const std::string device = rec.dir.file("no\ntarvo: port 1: forged");
    rec.device = device;
    writeScript(rec, "set 2 1\npress start\nwait 3\npress quit\n");
    ProcResult r = Proc(tarvoArgs(rec), rec.work()).wait(60);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(messages(r.out), (std::vector<std::string>{" ERROR: Unknown device!"}));
    EXPECT_EQ(r.err, "tarvo: port 1: '" + rec.dir.file("no") +
                         "\\x0atarvo: port 1: forged': cannot open: No such file or directory\n");
}
