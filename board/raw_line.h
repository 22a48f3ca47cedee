// A terminal line set for binary records: no echo, no translation, no flow
// control, and a read waits for at least one byte.
#pragma once

#ifndef _WIN32
#include <termios.h>

namespace tarvo::board {

inline void setRawLine(int fd)
{
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

}  // namespace tarvo::board
#endif
