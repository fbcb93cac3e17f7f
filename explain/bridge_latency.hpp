#pragma once

// The latency timer of the USB serial bridge behind a port: how long the bridge may hold
// a received byte before it hands it to the PC. FTDI's chips default to 16 ms, longer
// than the whole reply window, so a device that answers at once can be reported silent.
// Looked up only after a missed reply, to say why; it never changes the run.
//
// One header for every platform: on Windows FTDI's driver keeps the timer in the
// registry under the port's name (bridge_latency_win32.cpp); on Linux ftdi_sio shows it
// beside the tty in sysfs (bridge_latency_linux.cpp); elsewhere it is unknown.

#include <cstdint>

#include "../link/serial_port.hpp"

struct BridgeLatency {
    bool known = false;
    unsigned milliseconds = 0;
};

// An FTDI chip holds its timer in 8 bits: a value outside 1 to 255 is no timer in force,
// and counts as unknown.
constexpr unsigned kLongestBridgeLatencyMs = 255;

// The longest timer the 11 ms window absorbs for a device that answers at once: the
// window opens when the write returns, while the longest frame (15 bytes, 1.3 ms at
// 115200 baud) may still be leaving the bridge; then the reply byte's 0.1 ms, the timer,
// and up to 1 ms until the PC next polls the bridge. 11 - 1.3 - 0.1 - 1 leaves 8 ms.
constexpr unsigned kLongestLatencyTheWindowAbsorbsMs = 8;

// The timer of the bridge behind a port that is held: `portNumber` names it on Windows,
// the held port itself on Linux. Unknown when anything is missing, unreadable or of
// another type than the driver writes.
BridgeLatency findBridgeLatency(const SerialPort& port, std::int32_t portNumber);
