#include "line_speed.hpp"

#include <termios.h>

LineSpeed lineSpeedOf(int descriptor)
{
    // macOS and the BSDs hold the rate itself in speed_t (B115200 is 115200).
    termios settings {};
    LineSpeed speed;
    if (tcgetattr(descriptor, &settings) == 0) {
        speed.input = static_cast<unsigned long>(cfgetispeed(&settings));
        speed.output = static_cast<unsigned long>(cfgetospeed(&settings));
    }
    return speed;
}
