#include "line_speed.hpp"

// termios2 and <termios.h> cannot meet in one file: they define the same names.
#include <asm/termbits.h>
#include <sys/ioctl.h>

LineSpeed lineSpeedOf(int descriptor)
{
    // The kernel keeps both rates as numbers, whether a B-code or BOTHER set them.
    struct termios2 settings {};
    LineSpeed speed;
    if (ioctl(descriptor, TCGETS2, &settings) == 0) {
        speed.input = settings.c_ispeed;
        speed.output = settings.c_ospeed;
    }
    return speed;
}
