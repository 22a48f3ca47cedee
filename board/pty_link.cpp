#include "pty_link.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "raw_line.h"

namespace tarvo::board {

PtyLink::~PtyLink()
{
    if (watch_ >= 0)
        close(watch_);
    hangUp();
    if (!link_.empty()) {
        // Only our own link: another board may have taken the name since.
        char target[PATH_MAX];
        const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, std::size_t(n)) == slavePath_)
            unlink(link_.c_str());
    }
}

bool PtyLink::open(const std::string& link)
{
#ifndef __linux__
    (void)link;
    std::fprintf(stderr,
                 "tarvo-board: the pseudo-terminal board needs Linux (inotify); use --device\n");
    return false;
#else
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        std::fprintf(stderr, "tarvo-board: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    const char* name = ptsname(master_);
    if (!name) {
        std::fprintf(stderr, "tarvo-board: no slave for the pseudo-terminal: %s\n",
                     std::strerror(errno));
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ < 0) {
        std::fprintf(stderr, "tarvo-board: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    // A recorder sets its own mode too; this is what a plain opener finds.
    setRawLine(slave_);
    int one = 1;
    if (ioctl(master_, TIOCPKT, &one) != 0) {
        std::fprintf(stderr, "tarvo-board: packet mode refused: %s\n", std::strerror(errno));
        return false;
    }
    // Watch only after our own open, so every event is the recorder's.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ < 0 || inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        std::fprintf(stderr, "tarvo-board: cannot watch %s: %s\n", name, std::strerror(errno));
        return false;
    }
    // Status bytes from the mode changes above are no flushes of the recorder.
    uint8_t junk[64];
    while (read(master_, junk, sizeof junk) > 0) {}
    if (!link.empty()) {
        unlink(link.c_str());  // a stale link from a board that was killed
        if (symlink(name, link.c_str()) != 0) {
            std::fprintf(stderr, "tarvo-board: cannot link %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return false;
        }
        link_ = link;
    }
    return true;
#endif
}

PtyLink::Packet PtyLink::readPacket(std::vector<uint8_t>* data)
{
    uint8_t buf[4096];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0)
        return Packet::None;
    // Packet mode: a leading 0 marks data, anything else is a status byte.
    if (buf[0] == TIOCPKT_DATA) {
        data->assign(buf + 1, buf + n);
        return Packet::Data;
    }
    return (buf[0] & TIOCPKT_FLUSHREAD) ? Packet::Flush : Packet::Other;
}

// Returns whether the last opener closed in the events read.
bool PtyLink::takeEvents(const AccessFn& fn)
{
    bool lastClosed = false;
#ifdef __linux__
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(watch_, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            off += ssize_t(sizeof(inotify_event) + e->len);
            if (e->mask & IN_OPEN) {
                ++opensSeen_;
                fn(openers_++ == 0 ? Access::FirstOpen : Access::Open);
            }
            if ((e->mask & IN_CLOSE) && openers_ > 0 && --openers_ == 0) {
                fn(Access::LastClose);
                lastClosed = true;
            }
        }
    }
#else
    (void)fn;
#endif
    return lastClosed;
}

bool PtyLink::takeAccess(const AccessFn& fn)
{
    if (watch_ < 0)
        return false;
    return takeEvents(fn) && openers_ == 0 && releaseStaleExclusive(fn);
}

// The recorder sets TIOCEXCL and clears it when it closes the port; one that
// was killed leaves it set, and with the board's own descriptor the slave
// stays open, so the next recorder would be refused. Called when the last
// opener has closed: nobody else has the slave open now. One may open it
// while this runs: its open event is queued before it can set TIOCEXCL, so an
// open seen after the clear gives the exclusive use back.
bool PtyLink::releaseStaleExclusive(const AccessFn& fn)
{
    if (slave_ < 0)
        return false;
    for (int round = 0; round < 100 && openers_ == 0; ++round) {
#ifdef TIOCGEXCL
        int exclusive = 0;
        if (ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || !exclusive)
            return false;
#endif
        const uint64_t seen = opensSeen_;
        ioctl(slave_, TIOCNXCL);
        takeEvents(fn);
        if (opensSeen_ == seen)
            return true;
        ioctl(slave_, TIOCEXCL);
        // Opened and closed again already: the exclusive use is stale once more.
    }
    return false;
}

void PtyLink::withdrawUnread()
{
    if (slave_ < 0)
        return;
    uint8_t junk[4096];
    while (read(slave_, junk, sizeof junk) > 0) {}
}

int PtyLink::unread() const
{
    int waiting = 0;
    if (slave_ < 0 || ioctl(slave_, TIOCINQ, &waiting) != 0)
        return 0;
    return waiting;
}

void PtyLink::hangUp()
{
    if (slave_ >= 0)
        close(slave_);
    if (master_ >= 0)
        close(master_);
    slave_ = master_ = -1;
}

}  // namespace tarvo::board
