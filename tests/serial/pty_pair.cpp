#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        uint8_t buf[4096];
        const ssize_t k = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
        if (k <= 0)
            break;
        got.insert(got.end(), buf, buf + k);
    }
    return got;
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
