#include "serial_link.hpp"

#include "low_latency.hpp"
#include "serial_driver_ioctl.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Nanoseconds = long long;

Nanoseconds monotonicNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Nanoseconds>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

constexpr Nanoseconds kNanosecondsPerMs = 1000000LL;

// Whole milliseconds for poll, rounded up so that a wait never ends early.
int pollTimeoutMs(Nanoseconds remaining)
{
    if (remaining <= 0) {
        return 0;
    }
    return static_cast<int>((remaining + kNanosecondsPerMs - 1) / kNanosecondsPerMs);
}

void pauseFor(Nanoseconds duration)
{
    timespec pause {};
    pause.tv_sec = static_cast<time_t>(duration / 1000000000LL);
    pause.tv_nsec = static_cast<long>(duration % 1000000000LL);
    nanosleep(&pause, nullptr);
}

int fd(const SerialLink& link)
{
    return static_cast<int>(link.handle);
}

int driverIoctl(int descriptor, unsigned long request, void* argument)
{
    return ioctl(descriptor, request, argument);
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

// Waits, up to the deadline, until the driver's output queue is empty, so that
// the read window starts once the frame is on the line. Never blocks unbounded,
// which tcdrain would under hardware flow control with CTS held low.
bool waitForDrain(int descriptor, Nanoseconds deadline)
{
    for (;;) {
        const int queued = pendingOutput(descriptor);
        if (queued <= 0) {
            return true;
        }
        const Nanoseconds remaining = deadline - monotonicNow();
        if (remaining <= 0) {
            return false;
        }
        // One byte takes about 87 us at 115200 baud; look again when the queue
        // should be gone, but at least every 2 ms.
        Nanoseconds pause = static_cast<Nanoseconds>(queued) * 87000LL;
        if (pause > 2 * kNanosecondsPerMs) {
            pause = 2 * kNanosecondsPerMs;
        }
        pauseFor(pause < remaining ? pause : remaining);
    }
}

// The terminal the tool was started from: its controlling terminal (by whatever name,
// /dev/tty included) or the terminal on its standard input, output or error. Setting
// that one up as a port would send the frame into the user's screen and leave it raw.
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

}  // namespace

SerialDriverIoctl serialDriverIoctl = driverIoctl;

bool isDevicePathWord(const char* word)
{
    return std::strncmp(word, "/dev/", 5) == 0;
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

bool SerialLink::open(std::int32_t portNumber)
{
    const ComPortPath path = comPortPath(portNumber);
    return path.exists && openDevicePath(path.text);
}

bool SerialLink::openDevicePath(const char* path)
{
    const int descriptor = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    // Only a terminal line is a port, and not the user's own: a frame must never land
    // in a file, a disk or a screen. The lock comes before any line setting is touched:
    // the port is another program's while it holds it.
    if (!isatty(descriptor) || isOwnTerminal(descriptor) || flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return false;
    }
    ioctl(descriptor, TIOCEXCL);
    handle = descriptor;
    return true;
}

void SerialLink::configure()
{
    termios settings {};
    // When the settings cannot be read, the fixed ones are applied over a zeroed
    // record all the same; the outcome of configuring is not examined.
    tcgetattr(fd(*this), &settings);

    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);

    // 8N1 and the receiver on; hardware flow control, CLOCAL and HUPCL stay as they were.
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    settings.c_cflag |= CS8 | CREAD;

    // Raw both ways: every byte value passes unchanged. Software flow control would
    // swallow reply bytes 0x11 and 0x13, and ISIG would turn 0x03 into SIGINT. A BREAK
    // (the line held low by a device resetting or a cable pulled) would otherwise
    // arrive as a 0x00 byte and pass for an acknowledgment: it is dropped.
    settings.c_iflag &= ~static_cast<tcflag_t>(BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                                               IXON | IXOFF | IXANY | IMAXBEL);
    settings.c_iflag |= IGNBRK;
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &=
        ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN | NOFLSH | TOSTOP);

    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(fd(*this), TCSANOW, &settings);

    // So that a USB bridge hands the reply over as it comes, not up to 16 ms later.
    lowLatencySet = requestLowLatency(fd(*this));
}

void SerialLink::clearReceived()
{
    tcflush(fd(*this), TCIFLUSH);
}

void SerialLink::send(const RequestFrame& frame)
{
    const Nanoseconds deadline =
        monotonicNow() +
        static_cast<Nanoseconds>(kWriteTotalTimeoutMultiplierMs * frame.length + kWriteTotalTimeoutConstantMs) *
            kNanosecondsPerMs;

    std::size_t written = 0;
    while (written < frame.length) {
        const ssize_t count = ::write(fd(*this), frame.bytes + written, frame.length - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
        const Nanoseconds remaining = deadline - monotonicNow();
        if (remaining <= 0) {
            break;
        }
        pollfd writable {fd(*this), POLLOUT, 0};
        poll(&writable, 1, pollTimeoutMs(remaining));
    }

    if (!waitForDrain(fd(*this), deadline) || written < frame.length) {
        // As a timed-out write on Windows, what has not gone out by the deadline is
        // dropped, so that closing the port does not wait on it.
        tcflush(fd(*this), TCOFLUSH);
    }
}

Acknowledgment SerialLink::awaitAcknowledgment()
{
    Acknowledgment acknowledgment;
    const Nanoseconds deadline = monotonicNow() + kAcknowledgmentWindowMs * kNanosecondsPerMs;
    for (;;) {
        const Nanoseconds remaining = deadline - monotonicNow();
        pollfd readable {fd(*this), POLLIN, 0};
        const int ready = poll(&readable, 1, pollTimeoutMs(remaining));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return acknowledgment;
        }
        if (readable.revents & POLLIN) {
            std::uint8_t value = 0;
            const ssize_t count = ::read(fd(*this), &value, 1);
            if (count == 1) {
                acknowledgment.received = true;
                acknowledgment.value = value;
                return acknowledgment;
            }
            if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                return acknowledgment;
            }
        } else {
            // Hung up or in error with nothing to read: no byte can come any more.
            return acknowledgment;
        }
        if (monotonicNow() >= deadline) {
            return acknowledgment;
        }
    }
}

void SerialLink::close()
{
    if (handle < 0) {
        return;
    }
    if (lowLatencySet) {
        releaseLowLatency(fd(*this));
        lowLatencySet = false;
    }
    // The exclusive flag outlives our descriptor while another process keeps the
    // line open; left set, it would lock the next ordinary user out.
    ioctl(fd(*this), TIOCNXCL);
    ::close(fd(*this));
    handle = -1;
}
