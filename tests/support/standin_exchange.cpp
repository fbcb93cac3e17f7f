#include "standin_exchange.hpp"

#include <cerrno>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {

// Longer than any run may take, so that a run that reads until the line falls quiet
// outlasts its time limit instead of ending with the flood.
constexpr int kFloodLimitMs = 10000;

int controller(const StandInTerminal& port)
{
    return static_cast<int>(port.device.handle);
}

// Sends bytes without pause until the tool lets the line go or the time limit runs out.
// The first burst goes at the device's prompt priority, as any reply does; the rest at an
// ordinary one, so that the flood never keeps the tool from a core.
void flood(const StandInTerminal& port, std::uint8_t value)
{
    std::uint8_t burst[64];
    for (std::uint8_t& byte : burst) {
        byte = value;
    }
    bool prompt = true;
    const StandInClock::time_point deadline = StandInClock::now() + std::chrono::milliseconds(kFloodLimitMs);
    while (StandInClock::now() < deadline) {
        pollfd writable {controller(port), POLLOUT, 0};
        if (poll(&writable, 1, 1) > 0) {
            if (write(controller(port), burst, sizeof burst) < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            if (prompt) {
                const sched_param ordinary {};
                pthread_setschedparam(pthread_self(), SCHED_OTHER, &ordinary);
                prompt = false;
            }
        }
        if (lineReleased(port)) {
            return;
        }
    }
}

}  // namespace

bool serveExchange(StandInTerminal& port, const StandInBehaviour& behaviour, ExchangeRecord& record, int timeoutMs,
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
    if (!behaviour.device.reply && !behaviour.hangUpAfterFrame) {
        return true;
    }
    waitForReplyTime(behaviour.device, record);
    if (behaviour.hangUpAfterFrame) {
        giveBackSerialPort(port.device);
    } else if (behaviour.flood) {
        flood(port, behaviour.device.replyByte);
    } else {
        sendReply(port.device, behaviour.device);
        record.replied = true;
    }
    return true;
}

void collectLateBytes(StandInTerminal& port, ExchangeRecord& record)
{
    while (port.device.handle >= 0 && readDevice(port.device, record.received, 0) == DeviceRead::Bytes) {
    }
}
