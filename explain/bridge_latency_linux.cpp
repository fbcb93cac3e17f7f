#include "bridge_latency.hpp"

#include "../link/serial_driver_ioctl.hpp"

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The port's device in sysfs, found by its device number: whatever name the user gave it
// (/dev/ttyUSB0, a link under /dev/serial/by-id), the attribute is that of the port held.
int readSysfsAttribute(int descriptor, const char* name, char* text, std::size_t size)
{
    struct stat device {};
    if (fstat(descriptor, &device) != 0 || !S_ISCHR(device.st_mode)) {
        return -1;
    }
    char path[96];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/device/%s", major(device.st_rdev), minor(device.st_rdev),
                  name);
    const int attribute = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (attribute < 0) {
        return -1;
    }
    const ssize_t length = ::read(attribute, text, size);
    ::close(attribute);
    return static_cast<int>(length);
}

}  // namespace

SerialDriverAttribute serialDriverAttribute = readSysfsAttribute;

BridgeLatency findBridgeLatency(const SerialPort& port, std::int32_t)
{
    // ftdi_sio writes the number and a line end; anything else is not its timer.
    char text[8];
    const int length = serialDriverAttribute(static_cast<int>(port.handle), "latency_timer", text, sizeof text);
    BridgeLatency latency;
    unsigned value = 0;
    int digits = 0;
    while (digits < length && text[digits] >= '0' && text[digits] <= '9' && digits < 3) {
        value = value * 10 + static_cast<unsigned>(text[digits] - '0');
        ++digits;
    }
    const bool wholeNumber = digits > 0 && (digits == length || (digits + 1 == length && text[digits] == '\n'));
    if (wholeNumber && value >= 1 && value <= kLongestBridgeLatencyMs) {
        latency.known = true;
        latency.milliseconds = value;
    }
    return latency;
}
