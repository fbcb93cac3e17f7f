#include "exchange.hpp"

#include "stop_requests.hpp"

#include <thread>

namespace {

// A USB bridge passes bytes on in pieces as far apart as its latency timer: 16 ms by
// default on FTDI's chips, up to 255 ms when set. Once a frame has begun, a piece that
// comes within this much of the last is still the same frame; a longer silence means it
// will not be finished.
constexpr int kBridgeHoldsBytesMs = 300;
// That wait looks for a stop this often, so that a stop ends it at once.
constexpr int kStopLookMs = 10;

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
    StandInClock::time_point lastPieceAt;
    for (;;) {
        record.frame = decodeRequestFrame(record.received.data(), record.received.size());
        if (record.frame.status != FrameDecodeStatus::Incomplete) {
            break;
        }
        int wait = timeoutMs < 0 ? -1 : millisecondsLeft(deadline);
        if (record.received.empty()) {
            if (wait == 0) {
                return false;
            }
        } else {
            // Begun: the rest is waited for as long as a bridge may hold it, whatever the
            // deadline, so that one frame is never taken for two.
            const int quietLeft = millisecondsLeft(lastPieceAt + std::chrono::milliseconds(kBridgeHoldsBytesMs));
            if (quietLeft == 0 || stopRequested()) {
                break;
            }
            wait = quietLeft < kStopLookMs ? quietLeft : kStopLookMs;
        }
        const DeviceRead read = readDevice(port, record.received, wait);
        if (read == DeviceRead::Gone) {
            record.lineGone = true;
            return false;
        }
        if (read == DeviceRead::Bytes) {
            lastPieceAt = StandInClock::now();
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
    if (behaviour.holdLineLow) {
        // A stop cuts the break short, and the line is released before the port goes back.
        setLineBreak(port, true);
        waitForStop(kBreakMs);
        setLineBreak(port, false);
        return;
    }
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
