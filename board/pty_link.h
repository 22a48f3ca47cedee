// tarvo-board's link on a pseudo-terminal (Linux): the master in packet mode,
// so that the recorder's input flush shows, and an inotify watch on the slave
// for the recorder's opens and closes.
//
// The board keeps a slave descriptor of its own open for its whole life: the
// master then never polls POLLHUP when the recorder closes, the termios
// settings stay, and bytes written while the recorder is away (noise) wait
// for the next opener. Every open and close that the watch sees is the
// recorder's (the watch starts after the board's own open).
//
// The recorder takes the slave for itself (TIOCEXCL). The link clears that
// only when it has seen the last opener close, so that a recorder killed
// while holding the port does not lock out the next one; never while anyone
// has the slave open.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvo::board {

class PtyLink {
public:
    PtyLink() = default;
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;
    // Closes the line; removes the symlink if it still points at this slave.
    ~PtyLink();

    // Opens the pseudo-terminal, and `link` (when not empty) as a symlink to
    // its slave. On failure prints a one-line reason on stderr.
    bool open(const std::string& link);

    int fd() const { return master_; }      // the master: records out, packets in
    int watchFd() const { return watch_; }  // readable when opens or closes wait
    const std::string& slavePath() const { return slavePath_; }

    // One packet from the master: bytes the recorder wrote, or its flush of
    // its input queue. None when nothing waits.
    enum class Packet { None, Data, Flush, Other };
    Packet readPacket(std::vector<uint8_t>* data);

    // The recorder's opens and closes of the slave, as they come.
    enum class Access {
        FirstOpen,  // the slave was closed: this open may start a handshake
        Open,       // one more descriptor of a recorder that has it open
        LastClose,  // the last opener closed
    };
    using AccessFn = std::function<void(Access)>;
    // Passes the opens and closes waiting to `fn`, in order. When the last
    // opener has closed, clears an exclusive use it left behind and returns
    // whether it did.
    bool takeAccess(const AccessFn& fn);
    int openers() const { return openers_; }

    // Takes out of the slave's input queue what the recorder has not read
    // (a flush on the master does not reach it).
    void withdrawUnread();
    // Bytes written that the recorder has not read yet.
    int unread() const;
    // Closing the master hangs up every opener of the slave.
    void hangUp();

private:
    bool takeEvents(const AccessFn& fn);
    bool releaseStaleExclusive(const AccessFn& fn);

    int master_ = -1;
    int slave_ = -1;  // the board's own hold on the slave
    int watch_ = -1;
    std::string slavePath_;
    std::string link_;        // made by open(), removed by the destructor
    int openers_ = 0;         // the recorder's descriptors on the slave
    uint64_t opensSeen_ = 0;  // open events so far
};

}  // namespace tarvo::board
