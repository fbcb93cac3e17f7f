#pragma once

// The exchange on the stand-in's own pseudo-terminal, as the tests and the benchmark
// drive it: the line settings seen at the frame, whether the tool still holds the line,
// and the faults only a pseudo-terminal can act out (a hang-up, a flood, a slow take).

#include <termios.h>

#include "exchange.hpp"
#include "line_speed.hpp"
#include "sim_platform.hpp"  // requestPromptScheduling, for the threads that play the device
#include "standin_port.hpp"

// The terminal side's settings as the frame arrived: what the tool had set.
struct LineAtFrame {
    termios settings {};
    LineSpeed speed;
};

// Waits up to `timeoutMs` (forever when negative) for a frame, then acts out the
// behaviour, faults included; fills `line` when given. Gives false when nothing came in
// time.
bool serveExchange(StandInPort& port, const DeviceBehaviour& behaviour, ExchangeRecord& record, int timeoutMs,
                   LineAtFrame* line = nullptr);

// True once no program holds the line's lock (the tool locks it while open).
bool lineReleased(const StandInPort& port);
// Closing the device's end hangs the line up and loses a reply still in flight:
// before that, give the tool up to `timeoutMs` to let go.
void waitUntilLineReleased(const StandInPort& port, int timeoutMs);

// Appends whatever has reached the device since, without waiting.
void collectLateBytes(StandInPort& port, ExchangeRecord& record);
