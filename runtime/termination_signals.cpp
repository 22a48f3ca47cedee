// A termination signal writes one byte into a pipe (all a handler may do);
// the main thread's event loop reads it and calls the panel.
#include "termination_signals.h"

#ifndef _WIN32
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvo::rt {

#ifndef _WIN32
namespace {

int gSignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t gCaught = 0;

void onTerminationSignal(int)
{
    gCaught = 1;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace
#endif

void TerminationSignals::install(std::function<void()> onSignal)
{
    onSignal_ = std::move(onSignal);
#ifndef _WIN32
    if (!listening_) {
        if (::pipe(gSignalPipe) != 0)
            return;
        listening_ = true;
        for (int fd : gSignalPipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
        auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char buf[64];
            while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {}
            if (onSignal_)
                onSignal_();
        });
    }
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    // One polite request; a second signal ends the process at once, for a
    // program that cannot quit (a callback that never returns).
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);  // the terminal or the session closed
#endif
}

bool TerminationSignals::caught()
{
#ifndef _WIN32
    return gCaught != 0;
#else
    return false;
#endif
}

}  // namespace tarvo::rt
