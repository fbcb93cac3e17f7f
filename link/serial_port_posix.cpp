#include "serial_port.hpp"

#include "low_latency.hpp"
#include "monotonic_clock.hpp"
#include "serial_driver_ioctl.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

struct PortBefore {
    termios settings {};
    bool settingsKept = false;
    // The driver's low-latency flag was set by this program and is cleared again.
    bool lowLatencySet = false;
};

void PortBeforeRelease::operator()(PortBefore* before) const
{
    delete before;
}

namespace {

int fd(const SerialPort& port)
{
    return static_cast<int>(port.handle);
}

// The terminal the program was started from: its controlling terminal (by whatever name,
// /dev/tty included) or the terminal on its standard input, output or error. Setting
// that one up as a port would send frames into the user's screen and leave it raw.
bool isOwnTerminal(int descriptor)
{
    // Only the controlling terminal tells its foreground process group.
    if (tcgetpgrp(descriptor) != -1) {
        return true;
    }
    struct stat port {};
    if (fstat(descriptor, &port) != 0) {
        return false;
    }
    for (int standard = 0; standard <= 2; ++standard) {
        struct stat console {};
        if (isatty(standard) && fstat(standard, &console) == 0 && console.st_rdev == port.st_rdev) {
            return true;
        }
    }
    return false;
}

// Bytes still queued for the line; 0 when the driver cannot tell.
int pendingOutput(int descriptor)
{
    int queued = 0;
    if (serialDriverIoctl(descriptor, TIOCOUTQ, &queued) != 0) {
        return 0;
    }
    return queued;
}

// One byte, ten bits with its start and stop bits, takes about 87 us at 115200 baud.
constexpr Nanoseconds kByteTimeNs = 87000LL;
constexpr unsigned kGiveBackMarginMs = 100;
// What a UART may still hold once its driver's queue is empty: a 16550's 16-byte FIFO,
// a 16750's 64, and the shift register.
constexpr Nanoseconds kHardwareFifoBytes = 65;

// Drops what is still queued for the line. Through the driver's ioctl, where a test's
// driver sees it.
void dropQueuedOutput(int descriptor)
{
#ifdef TCFLSH
    serialDriverIoctl(descriptor, TCFLSH, reinterpret_cast<void*>(static_cast<std::intptr_t>(TCOFLUSH)));
#else
    tcflush(descriptor, TCOFLUSH);
#endif
}

// The driver's queue is empty, but the UART's FIFO and shift register, or a USB chip's own
// buffer, may still hold the last bytes, which new settings would cut. With no flow
// control on the line nothing can hold them back: they leave at the line's rate. Then
// tcdrain waits for the hardware: the serial core (8250, PL011) bounds that wait at twice
// the FIFO's time; usb-serial sets no bound and waits for the chip to report its buffer
// empty, which with no flow control takes that buffer's byte times at the line's rate (a
// chip that is gone answers at once). With flow control a peer could hold the bytes for
// ever, so a FIFO's worth of byte times is waited instead.
void awaitHardwareSent(int descriptor)
{
    termios line {};
    if (tcgetattr(descriptor, &line) == 0 && (line.c_cflag & CRTSCTS) == 0 && (line.c_iflag & IXON) == 0) {
        tcdrain(descriptor);
        return;
    }
    const Nanoseconds pause = kHardwareFifoBytes * kByteTimeNs;
    timespec slice {};
    slice.tv_nsec = static_cast<long>(pause);
    nanosleep(&slice, nullptr);
}

// Closes what was opened, errno still saying why it was refused.
PortRefusal refuse(int descriptor, PortRefusal refusal)
{
    const int cause = errno;
    ::close(descriptor);
    errno = cause;
    return refusal;
}

int driverIoctl(int descriptor, unsigned long request, void* argument)
{
    return ioctl(descriptor, request, argument);
}

}  // namespace

SerialDriverIoctl serialDriverIoctl = driverIoctl;

bool isDevicePathWord(const char* word)
{
    return std::strncmp(word, "/dev/", 5) == 0;
}

void fillClosedStandardHandles()
{
    for (int standard = 0; standard <= 2; ++standard) {
        if (fcntl(standard, F_GETFD) == -1) {
            const int placeholder = ::open("/dev/null", O_RDWR);
            if (placeholder > 2) {
                ::close(placeholder);
            }
        }
    }
}

ComPortPath comPortPath(std::int32_t portNumber)
{
    ComPortPath path;
    if (portNumber >= 1) {
        path.exists = true;
        std::snprintf(path.text, sizeof path.text, "/dev/ttyS%ld", static_cast<long>(portNumber) - 1);
    }
    return path;
}

PortRefusal takeSerialPort(SerialPort& port, const char* devicePath)
{
    const int descriptor = ::open(devicePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return PortRefusal::CannotOpen;
    }
    if (!isatty(descriptor)) {
        return refuse(descriptor, PortRefusal::NotATerminal);
    }
    if (isOwnTerminal(descriptor)) {
        return refuse(descriptor, PortRefusal::OwnTerminal);
    }
    // The lock comes before any line setting is touched: the port is another program's
    // while it holds it. TIOCEXCL keeps out programs that take no lock.
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return refuse(descriptor, PortRefusal::HeldByAnother);
    }
    ioctl(descriptor, TIOCEXCL);
    port.handle = descriptor;
    port.before.reset(new PortBefore);
    return PortRefusal::None;
}

bool keepLineSettings(SerialPort& port)
{
    port.before->settingsKept = tcgetattr(fd(port), &port.before->settings) == 0;
    return port.before->settingsKept;
}

bool setLine(SerialPort& port, FlowControl flowControl)
{
    termios settings {};
    // When the settings cannot be read, the fixed ones are applied over a zeroed record
    // all the same.
    tcgetattr(fd(port), &settings);

    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);

    // 8N1 with the receiver on.
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    settings.c_cflag |= CS8 | CREAD;
    if (flowControl == FlowControl::Off) {
        settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        settings.c_cflag |= CLOCAL;
    }

    // Raw both ways: every byte value passes unchanged. Software flow control would
    // swallow bytes 0x11 and 0x13, and ISIG would turn 0x03 into SIGINT. A BREAK (the
    // line held low by a device resetting or a cable pulled) would otherwise arrive as a
    // 0x00 byte and pass for an acknowledgment: it is dropped.
    settings.c_iflag &= ~static_cast<tcflag_t>(BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                                               IXON | IXOFF | IXANY | IMAXBEL);
    settings.c_iflag |= IGNBRK;
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &=
        ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN | NOFLSH | TOSTOP);

    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd(port), TCSANOW, &settings) != 0) {
        return false;
    }
    // So that a USB bridge hands bytes over as they come, not up to 16 ms later.
    if (port.before && !port.before->lowLatencySet) {
        port.before->lowLatencySet = requestLowLatency(fd(port));
    }
    return true;
}

bool awaitOutputSent(const SerialPort& port, unsigned timeoutMs)
{
    const Nanoseconds deadline = monotonicNow() + static_cast<Nanoseconds>(timeoutMs) * kNanosecondsPerMs;
    for (;;) {
        const int queued = pendingOutput(fd(port));
        if (queued <= 0) {
            return true;
        }
        const Nanoseconds remaining = deadline - monotonicNow();
        if (remaining <= 0) {
            return false;
        }
        // Look again when the queue should be gone, but at least every 2 ms.
        Nanoseconds pause = static_cast<Nanoseconds>(queued) * kByteTimeNs;
        if (pause > 2 * kNanosecondsPerMs) {
            pause = 2 * kNanosecondsPerMs;
        }
        if (pause > remaining) {
            pause = remaining;
        }
        timespec slice {};
        slice.tv_sec = static_cast<time_t>(pause / 1000000000LL);
        slice.tv_nsec = static_cast<long>(pause % 1000000000LL);
        nanosleep(&slice, nullptr);
    }
}

void giveBackSerialPort(SerialPort& port)
{
    if (port.handle < 0) {
        return;
    }
    if (port.before) {
        if (port.before->lowLatencySet) {
            releaseLowLatency(fd(port));
        }
        if (port.before->settingsKept) {
            // After the last bytes written are on the wire, so that the old settings cannot
            // cut them; a peer that never takes them does not hold the port.
            const Nanoseconds needed = static_cast<Nanoseconds>(pendingOutput(fd(port))) * kByteTimeNs;
            const unsigned waitMs = static_cast<unsigned>(needed / kNanosecondsPerMs) + kGiveBackMarginMs;
            if (awaitOutputSent(port, waitMs)) {
                awaitHardwareSent(fd(port));
            } else {
                dropQueuedOutput(fd(port));
            }
            tcsetattr(fd(port), TCSANOW, &port.before->settings);
        }
        // The exclusive flag outlives this descriptor while another process keeps the
        // line open; left set, it would lock the next ordinary user out.
        ioctl(fd(port), TIOCNXCL);
        port.before.reset();
    }
    ::close(fd(port));
    port.handle = -1;
}
