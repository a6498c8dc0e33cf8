#include "line_rate_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetAnyRate(int fd, int baud)
{
    termios2 line{};
    if (::ioctl(fd, TCGETS2, &line) != 0)
        return false;
    // The output rate, given as a number; no input rate of its own, so the
    // input runs at the same.
    line.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER;
    line.c_ispeed = line.c_ospeed = speed_t(baud);
    return ::ioctl(fd, TCSETS2, &line) == 0;
}

int LineRate(int fd)
{
    termios2 line{};
    return ::ioctl(fd, TCGETS2, &line) == 0 ? int(line.c_ospeed) : 0;
}
