#include "standin_exchange.hpp"

#include <cerrno>
#include <thread>

#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Longer than any run may take, so that a run that reads until the line falls quiet
// outlasts its time limit instead of ending with the flood.
constexpr int kFloodLimitMs = 10000;

int controller(const StandInPort& port)
{
    return static_cast<int>(port.device.handle);
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
        pollfd writable {controller(port), POLLOUT, 0};
        if (poll(&writable, 1, 1) > 0) {
            if (write(controller(port), burst, sizeof burst) < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
        if (lineReleased(port)) {
            return;
        }
    }
}

}  // namespace

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

bool serveExchange(StandInPort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs,
                   LineAtFrame* line)
{
    if (behaviour.takeFrameAfterMs > 0) {
        pollfd arriving {controller(port), POLLIN, 0};
        if (poll(&arriving, 1, timeoutMs) <= 0) {
            return false;
        }
        std::this_thread::sleep_for(fractionalMilliseconds(behaviour.takeFrameAfterMs));
    }
    if (!receiveFrame(port.device, record, timeoutMs)) {
        return false;
    }
    if (line != nullptr) {
        line->settings = currentTerminalSettings(port);
        line->speed = lineSpeedOf(port.lineHolder);
    }
    if (!behaviour.reply && !behaviour.hangUpAfterFrame) {
        return true;
    }
    waitForReplyTime(behaviour, record);
    if (behaviour.hangUpAfterFrame) {
        close(controller(port));
        port.device.handle = -1;
    } else if (behaviour.flood) {
        flood(port, behaviour.replyByte);
    } else {
        sendReply(port.device, behaviour);
    }
    return true;
}

void collectLateBytes(StandInPort& port, ExchangeRecord& record)
{
    while (port.device.handle >= 0 && readDevice(port.device, record.received, 0) == DeviceRead::Bytes) {
    }
}
