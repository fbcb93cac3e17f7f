#include "low_latency.hpp"
#include "serial_driver_ioctl.hpp"

#include <linux/serial.h>
#include <sys/ioctl.h>

bool requestLowLatency(int descriptor)
{
    serial_struct settings {};
    // A pseudo-terminal answers ENOTTY; other drivers may give EINVAL or EOPNOTSUPP.
    if (serialDriverIoctl(descriptor, TIOCGSERIAL, &settings) != 0 || (settings.flags & ASYNC_LOW_LATENCY) != 0) {
        return false;
    }
    // The record goes back as read, but for the one flag: an ordinary user may change
    // it only while the closing delays and the rest stay as they are.
    settings.flags |= ASYNC_LOW_LATENCY;
    return serialDriverIoctl(descriptor, TIOCSSERIAL, &settings) == 0;
}

void releaseLowLatency(int descriptor)
{
    serial_struct settings {};
    if (serialDriverIoctl(descriptor, TIOCGSERIAL, &settings) != 0) {
        return;
    }
    settings.flags &= ~ASYNC_LOW_LATENCY;
    serialDriverIoctl(descriptor, TIOCSSERIAL, &settings);
}
