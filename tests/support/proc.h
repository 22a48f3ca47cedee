// Test support: run the real programs as a user or a script would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

struct ProcResult {
    int status = -1;       // exit status, or 128 + signal
    bool timedOut = false;
    std::string out, err;  // what it printed
    double seconds = 0;    // wall time
    double cpuSeconds = 0; // user + system time of the process
};

class Proc {
public:
    // Starts `argv` in directory `cwd` (empty: inherit), stdout and stderr to
    // files of a private temporary directory.
    Proc(const std::vector<std::string>& argv, const std::string& cwd = "");
    ~Proc();  // kills the process if it still runs
    Proc(const Proc&) = delete;
    Proc& operator=(const Proc&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig);
    // The first line of its stdout, waiting up to `seconds`.
    std::string firstLine(double seconds);
    // Stdout so far.
    std::string out() const;
    // Waits up to `seconds` for the end; kills it after that.
    ProcResult wait(double seconds);

private:
    pid_t pid_ = -1;
    std::string dir_, outPath_, errPath_;
    double started_ = 0;
};

// Where the built programs are.
std::string binpath(const std::string& name);

// Waits up to `seconds` until `pred` holds; returns whether it did.
template <class Pred>
bool waitUntil(Pred pred, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
