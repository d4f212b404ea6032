// termios2 lives in the kernel's headers, which clash with glibc's <termios.h>,
// hence a file of its own.
#include "ptypair.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

int PtyPair::slaveBaudRate() const
{
    struct termios2 tio
    {
    };
    if (slaveFd < 0 || ioctl(slaveFd, TCGETS2, &tio) != 0)
        return -1;
    return int(tio.c_ospeed);
}
