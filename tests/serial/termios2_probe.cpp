// Separate file: <asm/termbits.h> clashes with <termios.h>.
#include "test_support.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

unsigned OutputSpeed(int Fd)
{
    termios2 t{};
    if (::ioctl(Fd, TCGETS2, &t) < 0)
        return 0;
    return t.c_ospeed;
}
