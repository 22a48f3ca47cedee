#include "proc.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "pty.h"

extern char** environ;

static double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string binpath(const std::string& name) { return std::string(TARVO_BIN_DIR) + "/" + name; }

Proc::Proc(const std::vector<std::string>& argv, const std::string& cwd)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-proc-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data()) ? tmpl : "/tmp";
    outPath_ = dir_ + "/stdout";
    errPath_ = dir_ + "/stderr";

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child changes directory itself: posix_spawn has no portable chdir
    // action on this glibc, so run it through /bin/sh.
    std::vector<std::string> args = argv;
    if (!cwd.empty()) {
        std::string cmd = "cd \"$0\" && exec \"$@\"";
        args.insert(args.begin(), {"/bin/sh", "-c", cmd, cwd});
    }
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    started_ = now();
    if (posix_spawn(&pid_, cargv[0], &fa, nullptr, cargv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
}

Proc::~Proc()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void Proc::signal(int sig)
{
    if (pid_ > 0) kill(pid_, sig);
}

std::string Proc::out() const { return readfile(outPath_); }

std::string Proc::firstLine(double seconds)
{
    double end = now() + seconds;
    while (now() < end) {
        std::string s = out();
        auto nl = s.find('\n');
        if (nl != std::string::npos) return s.substr(0, nl);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return "";
}

ProcResult Proc::wait(double seconds)
{
    ProcResult r;
    if (pid_ <= 0) return r;
    double end = now() + seconds;
    int status = 0;
    rusage ru{};
    for (;;) {
        pid_t w = wait4(pid_, &status, WNOHANG, &ru);
        if (w == pid_) break;
        if (now() > end) {
            r.timedOut = true;
            kill(pid_, SIGKILL);
            wait4(pid_, &status, 0, &ru);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    r.seconds = now() - started_;
    r.cpuSeconds = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                   ru.ru_stime.tv_usec / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readfile(outPath_);
    r.err = readfile(errPath_);
    return r;
}
