#pragma once

// One exchange as the CAN interface plays it: take in a request frame, then answer
// (or not) the way the chosen behaviour says, recording what was seen. The same on
// every platform and every kind of line (device_port.hpp).

#include <chrono>
#include <cstdint>
#include <vector>

#include "device_port.hpp"
#include "frame_decoder.hpp"

struct DeviceBehaviour {
    bool reply = true;
    std::uint8_t replyByte = 0x06;
    double replyDelayMs = 0;               // from the frame's end; also the delay before a hang-up
    std::vector<std::uint8_t> extraBytes;  // sent straight after the reply byte
    // Faults that only the stand-in's own pseudo-terminal acts out (standin_exchange.hpp).
    bool hangUpAfterFrame = false;         // close the device's end instead of replying
    bool flood = false;                    // reply with bytes without pause until the line is let go
    // Leave the frame on the line this long once it begins to arrive before taking it,
    // as a slow or flow-controlled line does; the reply delay counts from the take.
    double takeFrameAfterMs = 0;
};

using StandInClock = std::chrono::steady_clock;

struct ExchangeRecord {
    std::vector<std::uint8_t> received;
    DecodedFrame frame;
    StandInClock::time_point frameCompleteAt;  // when the frame was seen whole, or cut short
    bool lineGone = false;                     // the line closed or failed while waiting
};

// Waits up to `timeoutMs` (forever when negative) for a frame. Gives false when nothing
// came in time or the line went away. A frame with a bad length byte ends with the bytes
// read so far; one cut short ends once the line has been quiet for a few milliseconds.
bool receiveFrame(DevicePort& port, ExchangeRecord& record, int timeoutMs);

// Waits out the reply delay, counted from the frame's end as a device's own clock would.
void waitForReplyTime(const DeviceBehaviour& behaviour, const ExchangeRecord& record);

// The reply byte and the extra bytes after it.
void sendReply(const DevicePort& port, const DeviceBehaviour& behaviour);

// A whole exchange: receiveFrame, then the reply (if any) once its time has come.
bool serveFrame(DevicePort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs);

StandInClock::duration fractionalMilliseconds(double count);
