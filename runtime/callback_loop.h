// The event loop that calls the program's callbacks: one at a time, on the
// main thread, and only while RunUserInterface runs. An event that arrives
// while a callback runs waits behind it.
#pragma once

#include "panel_controls.h"

#include <QEventLoop>

#include <deque>

namespace tarvo::rt {

class CallbackLoop {
public:
    // Calls the callbacks of `controls`, with panel handle `handle`; both
    // belong to the panel and change with it.
    CallbackLoop(const ControlTable& controls, const int& handle)
        : controls_(controls), handle_(handle)
    {
    }

    // Runs until quit; returns quit's code.
    int run();
    // Ends run once the calling callback has returned; drops what waits.
    void quit(int code);

    // Calls control `control`'s callback with `event`, now or after the one
    // in progress. `interactive`: a person at the window set it off.
    void dispatch(int control, int event, bool interactive);

    bool running() const { return running_; }
    bool accepting() const { return running_ && !quitRequested_; }
    bool callbackRunning() const { return dispatching_; }
    // The callback in progress was set off by a person.
    bool interactiveNow() const { return dispatching_ && interactiveNow_; }

private:
    struct Event {
        int control;
        int event;
        bool interactive;
    };

    const ControlTable& controls_;
    const int& handle_;
    std::deque<Event> queue_;
    bool dispatching_ = false;
    bool running_ = false;
    bool quitRequested_ = false;
    int quitCode_ = 0;
    QEventLoop* loop_ = nullptr;
    bool interactiveNow_ = false;
};

}  // namespace tarvo::rt
