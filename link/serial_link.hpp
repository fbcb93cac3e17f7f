#pragma once

// The serial port for one run: opened by its number, set to fixed time-outs and
// 115200 baud 8N1, purged of stale input, written one frame, read one byte, closed.
// It prints nothing; the run sequence turns its outcomes into messages.
//
// One type for every platform; serial_link_win32.cpp and serial_link_posix.cpp
// implement it and the build picks one. The port itself is taken, set up and given back
// as serial_port.hpp does it for both programs; this adds the tool's own exchange.

#include <cstdint>

#include "request_frame.hpp"
#include "serial_port.hpp"

// Read time-out for the one-byte acknowledgment: 1 ms per byte asked for plus 10 ms.
constexpr unsigned kReadIntervalTimeoutMs = 2;
constexpr unsigned kReadTotalTimeoutMultiplierMs = 1;
constexpr unsigned kReadTotalTimeoutConstantMs = 10;
constexpr unsigned kAcknowledgmentWindowMs = kReadTotalTimeoutMultiplierMs * 1 + kReadTotalTimeoutConstantMs;

// Write time-out: 50 ms per byte plus 200 ms, so 550 to 950 ms for a frame.
constexpr unsigned kWriteTotalTimeoutMultiplierMs = 50;
constexpr unsigned kWriteTotalTimeoutConstantMs = 200;

struct Acknowledgment {
    bool received = false;
    std::uint8_t value = 0;
};

struct SerialLink {
    // Opens the device that comPortPath names.
    bool open(std::int32_t portNumber);
    // Opens a device path as it stands; only where such words are ports at all.
    bool openDevicePath(const char* path);
    void configure();
    void clearReceived();
    void send(const RequestFrame& frame);
    Acknowledgment awaitAcknowledgment();
    void close();

    SerialPort port;
    // Why the last open failed: the refusal, and errno or GetLastError() read straight after.
    PortRefusal refusal = PortRefusal::None;
    long systemError = 0;
};
