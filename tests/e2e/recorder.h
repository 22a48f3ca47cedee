// Test support for whole runs: a board (tarvo-board on a pseudo-terminal, or
// the virtual board), the real tarvo run unattended in a directory of its
// own, and what the run left behind.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "proc.h"
#include "pty.h"

struct Panel {
    unsigned num_ch = 6, baudr = 115200, di = 1, SampPer = 2000, digf = 1, rec_c = 1, wfile = 1;
    std::string lines() const;  // the `set` lines of a script
};

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
    std::string data() const;    // data.txt
    std::string config() const;  // config.txt
    bool exists(const std::string& name) const;
    std::string boardLog() const;
    std::vector<unsigned char> boardDump() const;  // record bytes the board sent
    void stopBoard();
};

// The messages the run showed, in order (the `message: ` lines of stdout).
std::vector<std::string> messages(const std::string& out);
// The lines of a text.
std::vector<std::string> splitlines(const std::string& text);
// The data lines that a byte stream of records must give in integer columns.
std::vector<std::string> decode(const std::vector<unsigned char>& stream, const Panel& p);
