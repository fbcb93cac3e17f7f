#pragma once

// The device's end of the line that the stand-in serves: an existing serial port that it
// takes by its word (COM21; on POSIX also a path such as /dev/ttyUSB1), or, on POSIX, the
// controller side of a pseudo-terminal of its own. Taking and giving back are the port's
// own (serial_port.hpp); this adds the device's reads and writes.
//
// One header for every platform; device_port_win32.cpp and device_port_posix.cpp
// implement it and the build picks one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial_port.hpp"

// Takes the port that `word` names (a word the options have accepted), exclusively, keeps its settings and sets it to 115200
// baud 8N1, raw, without flow control. On failure the port is left as it was and `error`
// says why, in one line. giveBackSerialPort() puts it back.
bool takeDevicePort(SerialPort& port, const std::string& word, std::string& error);

// The line served when no port word is given. POSIX makes a pseudo-terminal and names its
// terminal side in `name`, velmoran's port word; Windows has none and says so.
bool openOwnLine(SerialPort& device, std::string& name, std::string& error);
// Gives velmoran a moment to let go of the own line (closing it would cut a reply still in
// flight), then closes it.
void closeOwnLine(SerialPort& device);

enum class DeviceRead {
    Bytes,  // some arrived and were appended
    Quiet,  // none arrived in time
    Gone,   // the line is closed or failed
};

// Appends what arrives within `timeoutMs` (without a limit when negative), returning as
// soon as there is anything.
DeviceRead readDevice(SerialPort& port, std::vector<std::uint8_t>& sink, int timeoutMs);

// Writes every byte, unless the line goes away first.
void writeDevice(const SerialPort& port, const std::uint8_t* bytes, std::size_t count);

// Holds the line low (a break) from `on` until `off`, as an adapter without power or a
// crossed cable can. A pseudo-terminal has no line to hold: there it does nothing.
void setLineBreak(const SerialPort& port, bool on);

// A real device answers on its own clock; on a loaded machine the stand-in's thread could
// be scheduled late and reply after the window through no fault of the tool. Asks for
// real-time priority for the calling thread, where the machine allows it.
void requestPromptScheduling();
// Back to ordinary priority once serving is over: what follows (giving the port back, the
// exit, and a sanitizer's leak scan in test builds) must not hold a busy machine's CPU
// from other programs' replies.
void endPromptScheduling();
