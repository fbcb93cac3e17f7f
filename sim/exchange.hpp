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
    double replyDelayMs = 0;               // from the frame's end
    std::vector<std::uint8_t> extraBytes;  // sent straight after the reply byte
    bool holdLineLow = false;              // a break, kBreakMs long, in place of the reply
};

// Longer than velmoran listens after its frame, so that the whole of its run sees the line low.
constexpr int kBreakMs = 200;

using StandInClock = std::chrono::steady_clock;

struct ExchangeRecord {
    std::vector<std::uint8_t> received;
    DecodedFrame frame;
    StandInClock::time_point frameCompleteAt;  // when the frame was seen whole, or cut short
    bool lineGone = false;                     // the line closed or failed while waiting
    bool replied = false;                      // the reply went out
};

// Waits up to `timeoutMs` (forever when negative) for a frame to begin. Gives false when
// nothing came in time or the line went away. A frame with a bad length byte ends with the
// bytes read so far; a begun one waits for the rest as its length byte says, in pieces as
// far apart as a USB bridge may hold them (300 ms), and ends cut short after a longer
// silence, or at once on a stop.
bool receiveFrame(SerialPort& port, ExchangeRecord& record, int timeoutMs);

// Waits out the reply delay, counted from the frame's end as a device's own clock would.
// False when a stop (stop_requests.hpp) cut it short: then no reply is due.
bool waitForReplyTime(const DeviceBehaviour& behaviour, const ExchangeRecord& record);

// The reply byte and the extra bytes after it.
void sendReply(const SerialPort& port, const DeviceBehaviour& behaviour);

// A whole exchange: receiveFrame, then the reply (if any) once its time has come.
bool serveFrame(SerialPort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs);

StandInClock::duration fractionalMilliseconds(double count);
