#pragma once

// The exchange on the stand-in's pseudo-terminal as the tests and the benchmark drive it:
// the line settings seen at the frame, and faults that only a line of our own can act
// out (a hang-up, a flood, a slow take).

#include <termios.h>

#include "device_port.hpp"  // requestPromptScheduling, for the threads that play the device
#include "exchange.hpp"
#include "line_speed.hpp"
#include "standin_pty.hpp"

struct StandInBehaviour {
    DeviceBehaviour device;
    bool hangUpAfterFrame = false;  // close the device's end, after the reply delay, instead of replying
    bool flood = false;             // reply with bytes without pause until the line is let go
    // Leave the frame on the line this long once it begins to arrive before taking it, as
    // a slow or flow-controlled line does; the reply delay counts from the take.
    double takeFrameAfterMs = 0;
};

// The terminal side's settings as the frame arrived: what the tool had set.
struct LineAtFrame {
    termios settings {};
    LineSpeed speed;
};

// Waits up to `timeoutMs` (forever when negative) for a frame, then acts out the
// behaviour, faults included; fills `line` when given. Gives false when nothing came in
// time.
bool serveExchange(StandInTerminal& port, const StandInBehaviour& behaviour, ExchangeRecord& record, int timeoutMs,
                   LineAtFrame* line = nullptr);

// Appends whatever has reached the device since, without waiting.
void collectLateBytes(StandInTerminal& port, ExchangeRecord& record);
