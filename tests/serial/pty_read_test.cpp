// readUntil (support/pty.h) on a real pseudo-terminal: it takes no more than
// it was asked for, and it tells a hang-up from a line that stays quiet.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "../support/pty.h"
#include "pty_pair.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

// The slave end of `pty` opened raw, as the recorder opens a port.
class RawSlave {
public:
    explicit RawSlave(const PtyPair& pty) : fd_(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY))
    {
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~RawSlave() { close(); }
    bool ok() const { return fd_ >= 0; }
    void send(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), ssize_t(b.size())); }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

}  // namespace

TEST(ReadUntil, TakesNoMoreThanAskedForAndLeavesTheRestOnTheLine)
{
    PtyPair pty;
    RawSlave slave(pty);
    ASSERT_TRUE(slave.ok());
    slave.send({1, 2, 3, 4, 5});
    EXPECT_EQ(readFor(pty.master(), 3, 5.0), (Bytes{1, 2, 3}));
    EXPECT_EQ(readFor(pty.master(), 2, 5.0), (Bytes{4, 5}));
}

TEST(ReadUntil, AQuietLineGivesWhatCameAndIsNoHangUp)
{
    PtyPair pty;
    RawSlave slave(pty);
    ASSERT_TRUE(slave.ok());
    slave.send({'A'});
    bool ended = false;
    EXPECT_EQ(readUntil(pty.master(), 2, std::chrono::steady_clock::now() + 200ms, &ended),
              Bytes{'A'});
    EXPECT_FALSE(ended);
}

TEST(ReadUntil, AHangUpEndsTheReadAndIsToldAsOne)
{
    PtyPair pty;
    RawSlave slave(pty);
    ASSERT_TRUE(slave.ok());
    slave.close();
    bool ended = false;
    EXPECT_TRUE(readUntil(pty.master(), 1, std::chrono::steady_clock::now() + 30s, &ended).empty());
    EXPECT_TRUE(ended);
}
