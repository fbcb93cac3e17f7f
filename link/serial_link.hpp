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

// After a missed acknowledgment, how much longer the port is listened to: only to say
// whether a reply came late, never to take it.
constexpr unsigned kLateListeningMs = 50;

// What came in that time: the first byte, how many came in the same read, and when,
// counted from the window's start as the window is; or that the driver reported the line
// hung up or failed (an adapter pulled out), so that nothing more can come.
struct LateReply {
    bool received = false;
    std::uint8_t firstValue = 0;
    unsigned count = 0;
    double afterMs = 0;
    bool lineGone = false;
};

// The line errors the driver saw during the run. `known` is false where the driver keeps
// no such record (a pseudo-terminal, many USB bridges): then nothing can be said of them.
// `counted`: the numbers are the driver's counts (Linux); otherwise each is 1 where the
// driver only flagged the error (Windows).
struct LineErrors {
    bool known = false;
    bool counted = false;
    unsigned long breaks = 0;
    unsigned long framing = 0;
    unsigned long parity = 0;
    unsigned long overrun = 0;
};

struct SerialLink {
    // Opens the device that comPortPath names.
    bool open(std::int32_t portNumber);
    // Opens a device path as it stands; only where such words are ports at all.
    bool openDevicePath(const char* path);
    void configure();
    void clearReceived();
    // Notes the driver's error record before the frame goes out (on Windows it also
    // clears flags left from before the run): one system call.
    void startCountingLineErrors();
    void send(const RequestFrame& frame);
    Acknowledgment awaitAcknowledgment();
    // Only after a missed acknowledgment: listens until kLateListeningMs past the window
    // for the first byte and what comes with it.
    LateReply listenForLateReply();
    // The errors since startCountingLineErrors().
    LineErrors lineErrorsDuringRun();
    void close();

    SerialPort port;
    // Why the last open failed: the refusal, and errno or GetLastError() read straight after.
    PortRefusal refusal = PortRefusal::None;
    long systemError = 0;
    // The window's start on the platform's clock, and the error record before the frame.
    long long windowOpenedAt = 0;
    LineErrors errorsBefore;
};
