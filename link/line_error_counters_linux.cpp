#include "line_error_counters.hpp"
#include "serial_driver_ioctl.hpp"

#include <cstdint>

#include <linux/serial.h>
#include <sys/ioctl.h>

void readLineErrorCounters(int descriptor, LineErrors& counts)
{
    counts = LineErrors {};
    serial_icounter_struct driverCounts {};
    if (serialDriverIoctl(descriptor, TIOCGICOUNT, &driverCounts) != 0) {
        return;
    }
    counts.known = true;
    counts.counted = true;
    // The kernel counts in 32 bits and hands them over as int.
    counts.breaks = static_cast<std::uint32_t>(driverCounts.brk);
    counts.framing = static_cast<std::uint32_t>(driverCounts.frame);
    counts.parity = static_cast<std::uint32_t>(driverCounts.parity);
    // Bytes lost in the UART and bytes lost for want of room in the driver's buffer.
    counts.overrun = static_cast<std::uint32_t>(static_cast<std::uint32_t>(driverCounts.overrun) +
                                                static_cast<std::uint32_t>(driverCounts.buf_overrun));
}
