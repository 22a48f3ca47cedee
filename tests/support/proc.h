// A child process of the tests and the benchmarks: the real programs run as
// a user or a script would. No test framework: tarvo-bench uses it too.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct ProcResult {
    int status = -1;  // exit status, or 128 + signal
    bool timedOut = false;
    std::string out, err;   // what it printed
    double seconds = 0;     // wall time
    double cpuSeconds = 0;  // user + system time of the process
};

// How a process ended.
struct ProcExit {
    int status = -1;  // exit status, or 128 + signal
    rusage usage{};
    std::chrono::steady_clock::time_point at;  // when its end was seen
};

// Where a process's standard streams go, other than the defaults: stdin from
// /dev/null, stdout and stderr to files of a private temporary directory
// (read with out(), nextLine(), wait()).
struct ProcStreams {
    int in = -1;      // a descriptor for stdin
    int out = -1;     // a descriptor for stdout
    std::string err;  // a file for stderr
    // Where the process keeps its settings between runs (XDG_CONFIG_HOME);
    // empty: a folder of its own, never the user's.
    std::string configHome;
};

class Proc {
public:
    using Clock = std::chrono::steady_clock;

    using Streams = ProcStreams;

    // Starts `argv` in directory `cwd` (empty: inherit).
    Proc(const std::vector<std::string>& argv, const std::string& cwd = "",
         const ProcStreams& streams = {});
    ~Proc();  // kills the process if it still runs
    Proc(const Proc&) = delete;
    Proc& operator=(const Proc&) = delete;

    pid_t pid() const { return pid_; }
    Clock::time_point started() const { return started_; }
    void signal(int sig);
    // The first line of its stdout, waiting up to `seconds`.
    std::string firstLine(double seconds);
    // Stdout so far.
    std::string out() const;
    // The next line of stdout not taken yet, with the moment it was seen,
    // waiting until `deadline`; nothing when the deadline passes or the
    // process has ended without another whole line.
    std::optional<std::pair<std::string, Clock::time_point>> nextLine(Clock::time_point deadline);

    // Waits until `deadline` for the end, and leaves the process running
    // after that; the end, or nothing while it runs.
    const std::optional<ProcExit>& awaitExit(Clock::time_point deadline);
    const std::optional<ProcExit>& exited() const { return exit_; }
    // Waits up to `seconds` for the end; kills it after that.
    ProcResult wait(double seconds);

private:
    bool reap(bool block);  // takes the end if it has come (or waits for it); whether it has

    pid_t pid_ = -1;
    int pidfd_ = -1;  // readable once the process has ended, where the system has them
    std::string dir_, outPath_, errPath_;
    Clock::time_point started_;
    std::optional<ProcExit> exit_;
    int outFd_ = -1;            // stdout, as nextLine reads it
    std::string pending_;       // read by nextLine, not yet a whole line
    Clock::time_point lineAt_;  // when pending_ last grew
};

// Where the built programs are.
std::string binpath(const std::string& name);

// Waits up to `seconds` until `pred` holds, calling `idle` between checks;
// returns whether it did.
template <class Pred, class Idle>
bool waitUntil(Pred pred, double seconds, Idle idle)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        idle();
    }
    return true;
}

// The same, sleeping 10 ms between checks.
template <class Pred>
bool waitUntil(Pred pred, double seconds)
{
    return waitUntil(pred, seconds,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
}
