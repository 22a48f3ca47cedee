// Linux: any rate through termios2 and BOTHER. Only <asm/termbits.h> and
// <sys/ioctl.h> here: <termios.h> must not be included in this file.
#include "serial_baud.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace tarvo::rt {

int setCustomBaud(int fd, long baud)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    // Output rate from c_ospeed; the input bits (CIBAUD) cleared, which makes
    // the input rate follow the output rate.
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER;
    t.c_ospeed = static_cast<speed_t>(baud);
    t.c_ispeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}

long readBaud(int fd)
{
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    return static_cast<long>(t.c_ospeed);
}

}  // namespace tarvo::rt
