// Test support for whole runs: a board (tarvo-board on a pseudo-terminal, or
// the virtual board), the real tarvo run unattended in a directory of its
// own, and what the run left behind.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "proc.h"
#include "pty.h"
#include "record_oracle.h"

class Recording {
public:
    TempDir dir;
    std::string device = "virtual";  // what --com 1= names
    std::unique_ptr<Proc> board;

    // Starts tarvo-board on a pseudo-terminal with these options (and a log
    // and dump in the test directory).
    void startBoard(const std::vector<std::string>& options = {});
    // Runs tarvo with the script in the work directory; waits up to `seconds`.
    ProcResult run(const std::string& script, double seconds = 60);
    // Starts tarvo and returns at once (for signals).
    std::unique_ptr<Proc> spawn(const std::string& script);

    std::string work() const { return dir.file("work"); }
    // tarvo's XDG_CONFIG_HOME: where the window keeps its settings between runs.
    std::string configHome() const { return dir.file("config"); }
    std::string data() const;    // data.txt
    std::string config() const;  // config.txt
    bool exists(const std::string& name) const;
    std::string boardLog() const;
    std::vector<unsigned char> boardDump() const;  // record bytes the board sent
    void stopBoard();
};

// The messages the run showed, in order (the `message: ` lines of stdout).
std::vector<std::string> messages(const std::string& out);
// Waits up to `seconds` for the first message of a running tarvo; whether it came.
bool messageShown(const Proc& tarvo, double seconds = 30);
// The lines of a text.
std::vector<std::string> splitlines(const std::string& text);
