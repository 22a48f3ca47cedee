// The process's standard streams: descriptors 0-2 that may come closed,
// SIGPIPE, and the echo of the message line, which no thread waits on.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tarvo::rt {

// Reopens on /dev/null each of the descriptors 0, 1 and 2 that is closed, so
// that no file or pipe the program opens later takes its place (and a text
// for stderr ends up in it), and ignores SIGPIPE: a stdout whose reader has
// gone makes a write fail instead of ending the process. Call it first thing.
// Nothing to do on Windows.
void prepareStandardStreams();

// The lines of the message echo, handed over by any thread without waiting
// and written in the order they were handed over by a thread of their own.
// A stream that cannot be written (its reader gone, a full disk) ends the
// echo and nothing else. At exit the lines not yet written get two seconds,
// so that a stdout nobody reads cannot hold the process.
class MessageEcho {
public:
    // The one echo of the process; never destroyed.
    static MessageEcho& instance();

    // Queues `line` (with its newline) for the stream. Never waits on the
    // stream: it takes a lock that the writer holds only to take a line.
    void post(std::string line);
    // Waits up to `seconds` until every line handed over is written (or the
    // stream has failed). Returns whether it was.
    bool drain(double seconds);
    // Writes what is queued to the old stream first (bounded, as drain), then
    // writes to `stream` (stdout when null), a stream that may work again.
    void setStream(std::FILE* stream);

    // Lines kept while the stream does not take them; past that, further
    // lines are counted, not kept, and the count is reported on stderr at exit.
    static constexpr std::size_t kMaxQueued = 100000;

private:
    MessageEcho() = default;
    struct State;
    State& state();
};

}  // namespace tarvo::rt
