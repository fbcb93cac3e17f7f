#include "exchange.hpp"

#include "stop_requests.hpp"

#include <thread>

namespace {

constexpr int kQuietEndsBadFrameMs = 5;

int millisecondsLeft(StandInClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - StandInClock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

StandInClock::duration fractionalMilliseconds(double count)
{
    return std::chrono::duration_cast<StandInClock::duration>(std::chrono::duration<double, std::milli>(count));
}

bool receiveFrame(SerialPort& port, ExchangeRecord& record, int timeoutMs)
{
    const StandInClock::time_point deadline = StandInClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        record.frame = decodeRequestFrame(record.received.data(), record.received.size());
        if (record.frame.status != FrameDecodeStatus::Incomplete) {
            break;
        }
        int wait = timeoutMs < 0 ? -1 : millisecondsLeft(deadline);
        if (timeoutMs >= 0 && wait == 0) {
            if (record.received.empty()) {
                return false;
            }
            break;
        }
        // Once a frame has begun, a silence means it will not be finished.
        if (!record.received.empty()) {
            wait = wait < 0 || wait > kQuietEndsBadFrameMs ? kQuietEndsBadFrameMs : wait;
        }
        const DeviceRead read = readDevice(port, record.received, wait);
        if (read == DeviceRead::Gone) {
            record.lineGone = true;
            return false;
        }
        if (read == DeviceRead::Quiet && !record.received.empty()) {
            break;
        }
    }
    record.frameCompleteAt = StandInClock::now();
    return true;
}

bool waitForReplyTime(const DeviceBehaviour& behaviour, const ExchangeRecord& record)
{
    const StandInClock::time_point replyAt = record.frameCompleteAt + fractionalMilliseconds(behaviour.replyDelayMs);
    // The wait for a stop counts whole milliseconds: it waits out those, and the fraction
    // left is slept exactly, so that a reply keeps its time.
    for (int wholeMs = millisecondsLeft(replyAt); wholeMs >= 1; wholeMs = millisecondsLeft(replyAt)) {
        if (stopRequested()) {
            return false;
        }
        waitForStop(wholeMs);
    }
    std::this_thread::sleep_until(replyAt);
    return !stopRequested();
}

void sendReply(const SerialPort& port, const DeviceBehaviour& behaviour)
{
    std::vector<std::uint8_t> reply = {behaviour.replyByte};
    reply.insert(reply.end(), behaviour.extraBytes.begin(), behaviour.extraBytes.end());
    writeDevice(port, reply.data(), reply.size());
}

bool serveFrame(SerialPort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs)
{
    if (!receiveFrame(port, record, timeoutMs)) {
        return false;
    }
    if (behaviour.reply && waitForReplyTime(behaviour, record)) {
        sendReply(port, behaviour);
        record.replied = true;
    }
    return true;
}
