// tarvo-board's link to the recorder: the board model on a pseudo-terminal or
// on a real serial port, with records paced by the model's period.
#pragma once

#include <cstdint>
#include <string>

#include "board_model.h"

namespace tarvo::board {

struct DriverOptions {
    Faults faults;
    std::string link;           // pty: a symlink to the slave, removed at exit
    std::string device;         // a real serial port instead of a pty
    long baud = 19200;          // device: the handshake rate
    long otherBaud = 38400;     // device: the rate of the third rate class
    std::string logFile;        // the model's log lines; "-" for stderr
    std::string dumpFile;       // every record byte as written, binary
    uint64_t records = 0;       // stop after this many records (0: never)
    bool exitWhenDone = false;  // exit once those records are out
    bool once = false;          // exit when the recorder closes the port after a run
};

// Runs the board until SIGTERM/SIGINT, a hang-up fault, --once or
// --exit-when-done. Returns the process exit status; prints a one-line
// reason on stderr when the link cannot be set up.
int runBoard(const DriverOptions& options);

// Whether a real serial port can be set to this rate (the standard rates).
bool supportedRate(long baud);

}  // namespace tarvo::board
