#pragma once

// The stand-in CAN interface's end of a pseudo-terminal pair. The terminal side
// plays the serial port that velmoran opens; the controller side is the device.

#include <string>

#include <termios.h>

#include "device_port.hpp"

enum class FreshPortFlavour {
    Linux,    // as a Linux serial driver leaves a port: cooked, XON/XOFF on
    Windows,  // as Windows leaves a port: no software flow control
};

struct StandInPort {
    DevicePort device;    // the device's end: the controller side
    int lineHolder = -1;  // our own descriptor on the terminal side, so it never hangs up
    std::string terminalPath;
};

// Opens a new pair and sets the terminal side up as a fresh serial port.
// On failure gives false and says why in `error`.
bool openStandInPort(StandInPort& port, std::string& error);
void closeStandInPort(StandInPort& port);

// Puts the terminal side back to a fresh port's settings, echo off (a serial line
// never sends the device's bytes back to it).
void resetTerminalSettings(const StandInPort& port, FreshPortFlavour flavour);

// The terminal side's settings as they are now.
termios currentTerminalSettings(const StandInPort& port);
