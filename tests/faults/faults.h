// Test support for the fault suite: tarvo run under conditions a test sets
// up around it (a file-size limit, a small file system, another user), the
// comparison of data.txt with what the board sent, and the figures each case
// reports.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "recorder.h"

// Starts tarvo with the script, as Recording::spawn does, but behind
// `wrapper` (a command that ends by running its arguments) and with the
// program taken from `bindir` (empty: the build tree).
std::unique_ptr<Proc> spawnWrapped(Recording& rec, const std::string& script,
                                   const std::vector<std::string>& wrapper,
                                   const std::string& bindir = "");

// Starts tarvo-board and tarvo on it with the settings and actions; the
// running tarvo once its first message has shown, or null when none came.
std::unique_ptr<Proc> startRun(Recording& rec, const Panel& p, const std::string& actions);

// A wrapper that runs tarvo as an unprivileged user when the tests run as
// root (permission bits do not stop root); empty otherwise.
std::vector<std::string> unprivileged();
// A copy of tarvo and its panel file in a directory every user may read,
// for runs as another user (the build tree may sit in a private home).
std::string publicCopy(const TempDir& dir);

// What a comparison of data.txt with the board's dump found.
struct Compared {
    size_t whole = 0;          // complete lines in data.txt, all equal to the board's
    bool partialTail = false;  // data.txt ends in part of the next line
    size_t sent = 0;           // records the board sent
};
// Checks that the complete lines of `data` are the first records of `sent`
// and that a trailing incomplete line is the start of the next one.
Compared compareWithBoard(const std::string& data, const std::vector<std::string>& sent);

// The number in the board log's "idle after N records" line, waiting up to
// `seconds` for it; -1 when it does not come.
long recordsWhenClosed(const Recording& rec, double seconds);

// One line per case on stdout, for the README's table:
// "[ fault ] NAME: X.XX s; DETAILS".
void figures(const std::string& name, double seconds, const std::string& details);
