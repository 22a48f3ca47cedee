// Baud rates outside the termios speed constants (250000, 500000, ...).
// Kept apart from serial_posix.cpp because the Linux way needs
// <asm/termbits.h>, whose struct termios clashes with the one of <termios.h>.
#pragma once

namespace tarvo::rt {

// Sets both directions of the open tty `fd` to `baud` bits/s, leaving every
// other setting as it is. Returns 0, or an errno value (ENOTSUP where the
// system has no way to set such a rate).
int setCustomBaud(int fd, long baud);

// The output rate `fd` runs at, in bits/s, or -1 when it cannot be read.
long readBaud(int fd);

}  // namespace tarvo::rt
