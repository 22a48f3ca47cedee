#include "tty_link.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial_speed.h"

namespace tarvo::board {

bool TtyLink::open(const std::string& device)
{
    device_ = device;
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        std::fprintf(stderr, "tarvo-board: cannot open %s: %s\n", device.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

bool TtyLink::apply(Line line, long baud)
{
    const speed_t speed = rt::standardSpeed(baud);
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return false;
    cfmakeraw(&t);
    // Breaks come in as \377 \0 \0; a real \377 is doubled, so it stays data.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | ISTRIP | IXON | IXOFF | IXANY);
    t.c_iflag |= PARMRK;
    t.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    if (line == Line::Acquisition) {
        t.c_cflag |= PARENB;  // even parity
        t.c_iflag |= INPCK;
    } else {
        t.c_iflag &= ~tcflag_t(INPCK);
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    // tcsetattr fails when any setting was not taken (a pty drops PARENB and
    // says EINVAL): the rate read back decides.
    tcsetattr(fd_, TCSANOW, &t);
    termios got{};
    if (tcgetattr(fd_, &got) != 0 || cfgetospeed(&got) != speed)
        return false;
    line_ = line;
    return true;
}

bool TtyLink::read(std::vector<LineInput>* in)
{
    uint8_t buf[4096];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0)
        return false;
    marks_ = parseParityMarks(marks_, buf, std::size_t(n), in);
    return true;
}

void TtyLink::discardOutput() { tcflush(fd_, TCOFLUSH); }
void TtyLink::discardBoth() { tcflush(fd_, TCIOFLUSH); }
void TtyLink::drain() { tcdrain(fd_); }

void TtyLink::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace tarvo::board
