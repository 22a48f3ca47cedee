#include "pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../support/pty.h"

PtyPair::PtyPair()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return;
    }
    slave_ = ::ptsname(master_);
}

PtyPair::~PtyPair() { closeMaster(); }

void PtyPair::write(const std::vector<uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(n, 0) << "write to the pty master failed";
        done += static_cast<std::size_t>(n);
    }
}

std::vector<uint8_t> PtyPair::read(std::size_t n, double seconds)
{
    return readFor(master_, n, seconds);
}

void PtyPair::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

std::vector<uint8_t> allByteValues()
{
    std::vector<uint8_t> v(256);
    for (int i = 0; i < 256; ++i)
        v[i] = static_cast<uint8_t>(i);
    return v;
}

#if !defined(__linux__)
long slaveBaud(int masterFd)
{
    termios t{};
    if (::tcgetattr(masterFd, &t) != 0)
        return -1;
    return static_cast<long>(::cfgetospeed(&t));
}
#endif
