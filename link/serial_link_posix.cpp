#include "serial_link.hpp"

#include "line_error_counters.hpp"
#include "monotonic_clock.hpp"

#include <cerrno>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Whole milliseconds for poll, rounded up so that a wait never ends early.
int pollTimeoutMs(Nanoseconds remaining)
{
    if (remaining <= 0) {
        return 0;
    }
    return static_cast<int>((remaining + kNanosecondsPerMs - 1) / kNanosecondsPerMs);
}

int fd(const SerialLink& link)
{
    return static_cast<int>(link.port.handle);
}

enum class LineWait { Readable, TimedOut, Gone };

// Waits until a byte can be read or the deadline passes; Gone when the line hung up or
// failed with nothing to read, so that no byte can come any more.
LineWait waitUntilReadable(int descriptor, Nanoseconds deadline)
{
    for (;;) {
        pollfd readable {descriptor, POLLIN, 0};
        const int ready = poll(&readable, 1, pollTimeoutMs(deadline - monotonicNow()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return LineWait::TimedOut;
        }
        return (readable.revents & POLLIN) != 0 ? LineWait::Readable : LineWait::Gone;
    }
}

}  // namespace

bool SerialLink::open(std::int32_t portNumber)
{
    const ComPortPath path = comPortPath(portNumber);
    if (!path.exists) {
        refusal = PortRefusal::CannotOpen;
        systemError = ENOENT;
        return false;
    }
    return openDevicePath(path.text);
}

bool SerialLink::openDevicePath(const char* path)
{
    refusal = takeSerialPort(port, path);
    systemError = errno;
    return refusal == PortRefusal::None;
}

void SerialLink::configure()
{
    // The outcome is not examined: the reply alone decides the run.
    setLine(port, FlowControl::AsThePortHadIt);
}

void SerialLink::clearReceived()
{
    tcflush(fd(*this), TCIFLUSH);
}

void SerialLink::startCountingLineErrors()
{
    readLineErrorCounters(fd(*this), errorsBefore);
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

    // The read window opens once the frame is on the line.
    const Nanoseconds remaining = deadline - monotonicNow();
    if (!awaitOutputSent(port, static_cast<unsigned>(pollTimeoutMs(remaining))) || written < frame.length) {
        // As a timed-out write on Windows, what has not gone out by the deadline is
        // dropped, so that closing the port does not wait on it.
        tcflush(fd(*this), TCOFLUSH);
    }
}

Acknowledgment SerialLink::awaitAcknowledgment()
{
    Acknowledgment acknowledgment;
    windowOpenedAt = monotonicNow();
    const Nanoseconds deadline = windowOpenedAt + kAcknowledgmentWindowMs * kNanosecondsPerMs;
    for (;;) {
        if (waitUntilReadable(fd(*this), deadline) != LineWait::Readable) {
            return acknowledgment;
        }
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
        if (monotonicNow() >= deadline) {
            return acknowledgment;
        }
    }
}

LateReply SerialLink::listenForLateReply()
{
    LateReply late;
    const Nanoseconds deadline =
        windowOpenedAt + static_cast<Nanoseconds>(kAcknowledgmentWindowMs + kLateListeningMs) * kNanosecondsPerMs;
    for (;;) {
        const LineWait wait = waitUntilReadable(fd(*this), deadline);
        if (wait != LineWait::Readable) {
            late.lineGone = wait == LineWait::Gone;
            return late;
        }
        const Nanoseconds cameAt = monotonicNow();
        // The first byte and whatever arrived with it, in one read.
        std::uint8_t bytes[64];
        const ssize_t count = ::read(fd(*this), bytes, sizeof bytes);
        if (count > 0) {
            late.received = true;
            late.firstValue = bytes[0];
            late.count = static_cast<unsigned>(count);
            late.afterMs = static_cast<double>(cameAt - windowOpenedAt) / kNanosecondsPerMs;
            return late;
        }
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            late.lineGone = true;
            return late;
        }
        if (cameAt >= deadline) {
            return late;
        }
    }
}

LineErrors SerialLink::lineErrorsDuringRun()
{
    LineErrors after;
    readLineErrorCounters(fd(*this), after);
    LineErrors during;
    if (!errorsBefore.known || !after.known) {
        return during;
    }
    // The driver's counters are 32 bits wide and only grow: the difference modulo 2^32
    // stays right across a wrap.
    const auto since = [](unsigned long now, unsigned long before) { return (now - before) & 0xFFFFFFFFUL; };
    during.known = true;
    during.counted = true;
    during.breaks = since(after.breaks, errorsBefore.breaks);
    during.framing = since(after.framing, errorsBefore.framing);
    during.parity = since(after.parity, errorsBefore.parity);
    during.overrun = since(after.overrun, errorsBefore.overrun);
    return during;
}

void SerialLink::close()
{
    giveBackSerialPort(port);
}
