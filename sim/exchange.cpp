#include "exchange.hpp"

#include <cerrno>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kQuietEndsBadFrameMs = 5;
// Longer than any run may take, so that a run that reads until the line falls quiet
// outlasts its time limit instead of ending with the flood.
constexpr int kFloodLimitMs = 10000;

StandInClock::duration fractionalMilliseconds(double count)
{
    return std::chrono::duration_cast<StandInClock::duration>(std::chrono::duration<double, std::milli>(count));
}

int millisecondsLeft(StandInClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - StandInClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads what is there into the record; false once the device's end is closed.
bool readAvailable(int controller, std::vector<std::uint8_t>& sink)
{
    std::uint8_t buffer[256];
    const ssize_t count = read(controller, buffer, sizeof buffer);
    if (count > 0) {
        sink.insert(sink.end(), buffer, buffer + count);
        return true;
    }
    return count < 0 && (errno == EAGAIN || errno == EINTR);
}

bool waitForFrame(const StandInPort& port, ExchangeRecord& record, int timeoutMs)
{
    const StandInClock::time_point deadline = StandInClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        record.frame = decodeRequestFrame(record.received.data(), record.received.size());
        if (record.frame.status != FrameDecodeStatus::Incomplete) {
            return true;
        }
        int wait = timeoutMs < 0 ? -1 : millisecondsLeft(deadline);
        if (timeoutMs >= 0 && wait == 0) {
            return !record.received.empty();
        }
        // Once a frame has begun, a silence means it will not be finished.
        if (!record.received.empty()) {
            wait = wait < 0 || wait > kQuietEndsBadFrameMs ? kQuietEndsBadFrameMs : wait;
        }
        pollfd readable {port.controller, POLLIN, 0};
        const int ready = poll(&readable, 1, wait);
        if (ready == 0 && !record.received.empty()) {
            return true;
        }
        if (ready > 0 && !readAvailable(port.controller, record.received)) {
            return false;
        }
    }
}

void writeAll(int controller, const std::uint8_t* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = write(controller, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

// Sends bytes without pause until the tool lets the line go or the time limit runs out.
void flood(const StandInPort& port, std::uint8_t value)
{
    std::uint8_t burst[64];
    for (std::uint8_t& byte : burst) {
        byte = value;
    }
    const StandInClock::time_point deadline = StandInClock::now() + std::chrono::milliseconds(kFloodLimitMs);
    while (StandInClock::now() < deadline) {
        pollfd writable {port.controller, POLLOUT, 0};
        if (poll(&writable, 1, 1) > 0) {
            if (write(port.controller, burst, sizeof burst) < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
        if (lineReleased(port)) {
            return;
        }
    }
}

}  // namespace

void requestPromptScheduling()
{
    sched_param priority {};
    priority.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
}

bool lineReleased(const StandInPort& port)
{
    // The tool holds an exclusive lock on the line while it has it open.
    if (flock(port.lineHolder, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    flock(port.lineHolder, LOCK_UN);
    return true;
}

void waitUntilLineReleased(const StandInPort& port, int timeoutMs)
{
    const StandInClock::time_point deadline = StandInClock::now() + std::chrono::milliseconds(timeoutMs);
    while (!lineReleased(port) && StandInClock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool serveExchange(StandInPort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs)
{
    if (behaviour.takeFrameAfterMs > 0) {
        pollfd arriving {port.controller, POLLIN, 0};
        if (poll(&arriving, 1, timeoutMs) <= 0) {
            return false;
        }
        std::this_thread::sleep_for(fractionalMilliseconds(behaviour.takeFrameAfterMs));
    }
    if (!waitForFrame(port, record, timeoutMs)) {
        return false;
    }
    record.frameCompleteAt = StandInClock::now();
    record.settingsAtFrame = currentTerminalSettings(port);
    record.speedAtFrame = lineSpeedOf(port.lineHolder);

    if (!behaviour.reply && !behaviour.hangUpAfterFrame) {
        return true;
    }
    // Counted from the moment the frame was complete, as a device's own clock would.
    if (behaviour.replyDelayMs > 0) {
        std::this_thread::sleep_until(record.frameCompleteAt + fractionalMilliseconds(behaviour.replyDelayMs));
    }
    if (behaviour.hangUpAfterFrame) {
        close(port.controller);
        port.controller = -1;
        return true;
    }
    if (behaviour.flood) {
        flood(port, behaviour.replyByte);
        return true;
    }
    std::vector<std::uint8_t> reply = {behaviour.replyByte};
    reply.insert(reply.end(), behaviour.extraBytes.begin(), behaviour.extraBytes.end());
    writeAll(port.controller, reply.data(), reply.size());
    return true;
}

void collectLateBytes(const StandInPort& port, ExchangeRecord& record)
{
    if (port.controller < 0) {
        return;
    }
    pollfd readable {port.controller, POLLIN, 0};
    while (poll(&readable, 1, 0) > 0 && (readable.revents & POLLIN)) {
        if (!readAvailable(port.controller, record.received)) {
            return;
        }
    }
}
