// termios2 lives in <asm/termbits.h>, which cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

long slaveBaud(int masterFd)
{
    struct termios2 t {};
    if (::ioctl(masterFd, TCGETS2, &t) != 0)
        return -1;
    return static_cast<long>(t.c_ospeed);
}
