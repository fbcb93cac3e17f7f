#pragma once

// One exchange as the CAN interface plays it: take in a request frame, then answer
// (or not) the way the chosen behaviour says, recording what was seen.

#include <chrono>
#include <cstdint>
#include <vector>

#include <termios.h>

#include "frame_decoder.hpp"
#include "line_speed.hpp"
#include "standin_port.hpp"

struct DeviceBehaviour {
    bool reply = true;
    std::uint8_t replyByte = 0x06;
    double replyDelayMs = 0;               // from the frame's end; also the delay before a hang-up
    std::vector<std::uint8_t> extraBytes;  // sent straight after the reply byte
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
    termios settingsAtFrame {};
    LineSpeed speedAtFrame;
};

// Waits up to `timeoutMs` (forever when negative) for a frame, then acts out the
// behaviour. Gives false when nothing came in time. A frame with a bad length byte
// ends with the bytes read so far; one cut short ends once the line has been quiet
// for a few milliseconds.
bool serveExchange(StandInPort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs);

// A real device answers on its own clock; on a loaded machine the stand-in's thread
// could be scheduled late and reply after the window through no fault of the tool.
// Asks for real-time priority for the calling thread where the machine allows it;
// where it does not, the thread runs as it is. Not for a thread that floods.
void requestPromptScheduling();

// True once no program holds the line's lock (the tool locks it while open).
bool lineReleased(const StandInPort& port);
// Closing the device's end hangs the line up and loses a reply still in flight:
// before that, give the tool up to `timeoutMs` to let go.
void waitUntilLineReleased(const StandInPort& port, int timeoutMs);

// Appends whatever has reached the device since, without waiting.
void collectLateBytes(const StandInPort& port, ExchangeRecord& record);
