// SIGINT, SIGTERM and SIGHUP turned into a call on the main thread, where a
// panel can quit as its Quit button would. Nothing on Windows.
#pragma once

#include <QObject>

#include <functional>

namespace tarvo::rt {

class TerminationSignals final : public QObject {
public:
    // Installs the handlers (again: each takes one signal, see the .cpp);
    // `onSignal` runs on the main thread for each signal caught.
    void install(std::function<void()> onSignal);
    // Whether a termination signal has come, even one whose call on the main
    // thread has not run yet (the main thread was busy in a callback).
    static bool caught();

private:
    std::function<void()> onSignal_;
    bool listening_ = false;
};

}  // namespace tarvo::rt
