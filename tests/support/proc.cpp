#include "proc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

extern char** environ;

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string binpath(const std::string& name) { return std::string(TARVO_BIN_DIR) + "/" + name; }

Proc::Proc(const std::vector<std::string>& argv, const std::string& cwd, const ProcStreams& streams)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-proc-XXXXXX").string();
    if (mkdtemp(tmpl.data()))
        dir_ = tmpl;
    outPath_ = dir_.empty() ? "/dev/null" : dir_ + "/stdout";
    errPath_ = !streams.err.empty() ? streams.err : dir_.empty() ? "/dev/null" : dir_ + "/stderr";

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (streams.in >= 0)
        posix_spawn_file_actions_adddup2(&fa, streams.in, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (streams.out >= 0)
        posix_spawn_file_actions_adddup2(&fa, streams.out, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    posix_spawn_file_actions_addopen(&fa, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child changes directory itself: posix_spawn has no portable chdir
    // action on this glibc, so run it through /bin/sh.
    std::vector<std::string> args = argv;
    if (!cwd.empty()) {
        std::string cmd = "cd \"$0\" && exec \"$@\"";
        args.insert(args.begin(), {"/bin/sh", "-c", cmd, cwd});
    }
    // The settings the window keeps between runs: never the user's.
    const std::string home =
        "XDG_CONFIG_HOME=" + (!streams.configHome.empty() ? streams.configHome
                              : dir_.empty()              ? std::string("/nonexistent/tarvo-test")
                                                          : dir_ + "/config");
    std::vector<char*> cenv;
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("XDG_CONFIG_HOME=", 0) != 0)
            cenv.push_back(*e);
    cenv.push_back(const_cast<char*>(home.c_str()));
    cenv.push_back(nullptr);
    std::vector<char*> cargv;
    for (auto& a : args)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    started_ = Clock::now();
    if (posix_spawn(&pid_, cargv[0], &fa, nullptr, cargv.data(), cenv.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
#ifdef SYS_pidfd_open
    if (pid_ > 0)
        pidfd_ = int(syscall(SYS_pidfd_open, pid_, 0));
#endif
}

Proc::~Proc()
{
    // Only this child, by its id: a test that failed leaves nothing behind.
    if (pid_ > 0 && !exit_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (pidfd_ >= 0)
        close(pidfd_);
    if (outFd_ >= 0)
        close(outFd_);
    std::error_code ec;
    if (!dir_.empty())
        std::filesystem::remove_all(dir_, ec);
}

void Proc::signal(int sig)
{
    if (pid_ > 0 && !exit_)
        kill(pid_, sig);
}

std::string Proc::out() const { return readAll(outPath_); }

std::string Proc::firstLine(double seconds)
{
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        std::string s = out();
        auto nl = s.find('\n');
        if (nl != std::string::npos)
            return s.substr(0, nl);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return "";
}

std::optional<std::pair<std::string, Proc::Clock::time_point>> Proc::nextLine(
    Clock::time_point deadline)
{
    for (;;) {
        if (auto nl = pending_.find('\n'); nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return std::make_pair(line, lineAt_);
        }
        // Whether it has ended, before reading: what it wrote before its end
        // is all read then.
        const bool ended = bool(awaitExit(Clock::now()));
        if (outFd_ < 0)
            outFd_ = open(outPath_.c_str(), O_RDONLY | O_CLOEXEC);
        char buf[4096];
        const ssize_t n = outFd_ < 0 ? 0 : read(outFd_, buf, sizeof buf);
        if (n > 0) {
            pending_.append(buf, size_t(n));
            lineAt_ = Clock::now();
            continue;
        }
        if (ended || Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool Proc::reap(bool block)
{
    if (exit_ || pid_ <= 0)
        return bool(exit_);
    ProcExit e;
    int st = 0;
    pid_t w;
    do
        w = wait4(pid_, &st, block ? 0 : WNOHANG, &e.usage);
    while (w < 0 && errno == EINTR);
    if (w != pid_)
        return false;
    e.at = Clock::now();
    e.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    exit_ = e;
    return true;
}

const std::optional<ProcExit>& Proc::awaitExit(Clock::time_point deadline)
{
    while (!reap(false) && pid_ > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            poll(&p, 1, int(std::min<long long>(left, 1000)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 5)));
        }
    }
    return exit_;
}

ProcResult Proc::wait(double seconds)
{
    ProcResult r;
    if (pid_ <= 0)
        return r;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    if (!awaitExit(end)) {
        r.timedOut = true;
        kill(pid_, SIGKILL);
        reap(true);
    }
    r.seconds =
        std::chrono::duration<double>((exit_ ? exit_->at : Clock::now()) - started_).count();
    if (exit_) {
        const rusage& ru = exit_->usage;
        r.status = exit_->status;
        r.cpuSeconds = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                       ru.ru_stime.tv_usec / 1e6;
    }
    r.out = readAll(outPath_);
    r.err = readAll(errPath_);
    return r;
}
