#pragma once

// The serial port for one run: opened by its number, set to fixed time-outs and
// 115200 baud 8N1, purged of stale input, written one frame, read one byte, closed.
// It prints nothing; the run sequence turns its outcomes into messages.
//
// One type for every platform; serial_link_win32.cpp and serial_link_posix.cpp
// implement it and the build picks one.

#include <cstdint>

#include "request_frame.hpp"

// Read time-out for the one-byte acknowledgment: 1 ms per byte asked for plus 10 ms.
constexpr unsigned kReadIntervalTimeoutMs = 2;
constexpr unsigned kReadTotalTimeoutMultiplierMs = 1;
constexpr unsigned kReadTotalTimeoutConstantMs = 10;
constexpr unsigned kAcknowledgmentWindowMs = kReadTotalTimeoutMultiplierMs * 1 + kReadTotalTimeoutConstantMs;

// Write time-out: 50 ms per byte plus 200 ms, so 550 to 950 ms for a frame.
constexpr unsigned kWriteTotalTimeoutMultiplierMs = 50;
constexpr unsigned kWriteTotalTimeoutConstantMs = 200;

constexpr std::uint32_t kLineBaudRate = 115200;

struct Acknowledgment {
    bool received = false;
    std::uint8_t value = 0;
};

// The device that COMn names: "\\.\COMn" on Windows (the form that reaches COM10 and
// above too), /dev/ttyS(n-1) on POSIX, as other Windows-compatibility layers name them.
struct ComPortPath {
    bool exists = false;  // POSIX: COM0 and below name no device
    char text[24] = {};
};
ComPortPath comPortPath(std::int32_t portNumber);

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

    // The platform's handle (a HANDLE or a file descriptor); -1 while closed.
    std::intptr_t handle = -1;
    // POSIX: the driver's low-latency flag was set for this run and is cleared on close.
    bool lowLatencySet = false;
};

// True where a port word may be a device path (POSIX: a word beginning "/dev/").
bool isDevicePathWord(const char* word);
