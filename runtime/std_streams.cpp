#include "std_streams.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace tarvo::rt {

void prepareStandardStreams()
{
#ifndef _WIN32
    // In order: each open takes the lowest free descriptor, the closed one.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

namespace {

// Writes all of `text`; false when the stream fails.
bool writeAll(std::FILE* stream, const std::string& text)
{
#ifndef _WIN32
    // Straight to the descriptor: stdio's buffer of the stream stays empty,
    // so the flush at exit has nothing to write into a stalled pipe.
    const int fd = ::fileno(stream);
    if (fd >= 0) {
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A non-blocking stdout (a parent's setting): wait until it takes more.
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, -1) < 0 && errno != EINTR)
                    return false;
            } else {
                return false;  // EPIPE (SIGPIPE is ignored), EIO, ENOSPC, ...
            }
        }
        return true;
    }
#endif
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
           std::fflush(stream) == 0;
}

}  // namespace

struct MessageEcho::State {
    std::mutex mutex;
    std::condition_variable work;  // a line was queued
    std::condition_variable idle;  // the queue ran empty, or the stream failed
    std::deque<std::string> queue;
    std::FILE* stream = stdout;
    bool writing = false;  // the writer has taken a line and not finished it
    bool failed = false;   // the stream failed: no more echo until it is changed
    bool started = false;
    std::size_t dropped = 0;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            work.wait(lock, [this] { return !queue.empty(); });
            std::string line = std::move(queue.front());
            queue.pop_front();
            std::FILE* to = stream;
            writing = true;
            lock.unlock();
            const bool ok = writeAll(to, line);
            lock.lock();
            writing = false;
            if (!ok && to == stream) {
                failed = true;
                queue.clear();
            }
            if (queue.empty())
                idle.notify_all();
        }
    }
};

MessageEcho& MessageEcho::instance()
{
    static MessageEcho* echo = new MessageEcho;
    return *echo;
}

MessageEcho::State& MessageEcho::state()
{
    static State* s = new State;
    return *s;
}

void MessageEcho::post(std::string line)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.failed)
        return;
    if (s.queue.size() >= kMaxQueued) {
        ++s.dropped;
        return;
    }
    if (!s.started) {
        s.started = true;
        std::thread([&s] { s.run(); }).detach();
        std::atexit([] {
            MessageEcho::instance().drain(2.0);
            State& st = MessageEcho::instance().state();
            std::lock_guard l(st.mutex);
            if (st.dropped > 0)
                std::fprintf(stderr, "tarvo: %zu messages were not echoed (stdout was not read)\n",
                             st.dropped);
        });
    }
    s.queue.push_back(std::move(line));
    s.work.notify_one();
}

bool MessageEcho::drain(double seconds)
{
    State& s = state();
    std::unique_lock lock(s.mutex);
    return s.idle.wait_for(lock, std::chrono::duration<double>(seconds),
                           [&s] { return s.failed || (s.queue.empty() && !s.writing); });
}

void MessageEcho::setStream(std::FILE* stream)
{
    drain(2.0);
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.stream = stream ? stream : stdout;
    s.failed = false;
    s.dropped = 0;
}

}  // namespace tarvo::rt
