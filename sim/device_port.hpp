#pragma once

// The device's end of the line that the stand-in serves: an existing serial port that
// it takes by its word (COM21; on POSIX also a path such as /dev/ttyUSB1), or, on POSIX,
// the controller side of a pseudo-terminal that it made itself (standin_port.hpp).
//
// One type for every platform; device_port_win32.cpp and device_port_posix.cpp
// implement it and the build picks one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DevicePort {
    // The platform's handle (a HANDLE or a file descriptor); -1 while closed.
    std::intptr_t handle = -1;
    // A taken port's settings from before, as the platform keeps them, to put back.
    std::vector<unsigned char> savedSettings;
    // The driver's low-latency flag was set here and is cleared on release (Linux).
    bool lowLatencySet = false;
    // Windows: the read time-out now in force, so that it is set only when it changes.
    int readTimeoutMs = -2;
};

// Takes the port that `word` names, exclusively, and sets it to 115200 baud 8N1, raw,
// without flow control, keeping its earlier settings. COMn names a port as velmoran
// does. On failure the port is left as it was and `error` says why, in one line.
bool takeDevicePort(DevicePort& port, const std::string& word, std::string& error);

// Puts a taken port's earlier settings back, lets it go and closes it.
void releaseDevicePort(DevicePort& port);

enum class DeviceRead {
    Bytes,  // some arrived and were appended
    Quiet,  // none arrived in time
    Gone,   // the line is closed or failed
};

// Appends what arrives within `timeoutMs` (without a limit when negative), returning as
// soon as there is anything.
DeviceRead readDevice(DevicePort& port, std::vector<std::uint8_t>& sink, int timeoutMs);

// Writes every byte, unless the line goes away first.
void writeDevice(const DevicePort& port, const std::uint8_t* bytes, std::size_t count);
