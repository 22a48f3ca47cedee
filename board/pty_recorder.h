// The recorder as the board sees it on a pseudo-terminal. A pty carries no
// line break, so the recorder's input flush (a packet-mode status) or its
// opening of the slave (an inotify event) stands in for the break; the model
// decides what each one means in its state. After a finished handshake the
// recorder's next flush is either that of its reopening at the acquisition
// rate, which the start byte follows at once, or that of a new handshake (a
// Start pressed again after a run that never began): the board waits for the
// start byte and otherwise restarts, still well before the recorder reads.
// A configured board that the recorder left closed for long was given up.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

#include "board_model.h"
#include "link_output.h"
#include "pty_link.h"

namespace tarvo::board {

class PtyRecorder {
public:
    using Clock = std::chrono::steady_clock;

    // `dump` is flushed when a run ends; `once`: the board's life ends with
    // the first run (see runOver()).
    PtyRecorder(PtyLink& link, BoardModel& model, LinkOutput& output, FILE* dump, bool once)
        : link_(link), model_(model), output_(output), dump_(dump), once_(once)
    {
    }

    // Takes the recorder's opens and closes waiting.
    void readAccess();
    // The recorder flushed its input.
    void flushSeen();
    // The recorder sent bytes, which the model has taken.
    void dataReceived();
    // Acts on the waits that have run out by now.
    void timers();
    // The earlier of `wake` and the next wait to run out.
    Clock::time_point nextWake(Clock::time_point wake) const;
    // Before the board ends the line: a hang-up takes the bytes still waiting
    // in the slave with it, so gives the recorder time to read the last records.
    void awaitReader();
    // With `once`: the recorder closed the port after a run.
    bool runOver() const { return runOver_; }

private:
    void accessSeen(PtyLink::Access access);
    void linkClosed();
    void standIn(const char* what, Clock::time_point at);
    void withdrawUnread();

    PtyLink& link_;
    BoardModel& model_;
    LinkOutput& output_;
    FILE* dump_;
    const bool once_;
    bool runOver_ = false;

    Clock::time_point openedAt_{};
    std::optional<Clock::time_point> openTimer_, closedSince_, heldUntil_;
    Clock::time_point breakAt_{};   // the flush or open that last stood in for a break
    const char* heldBy_ = "flush";  // what the held stand-in was
};

}  // namespace tarvo::board
