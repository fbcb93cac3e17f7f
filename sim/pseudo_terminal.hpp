#pragma once

// A pseudo-terminal that plays a serial line (POSIX): its terminal side is the port that
// velmoran opens, its controller side the device's end. The stand-in serves one of its
// own when given no port word, and the tests drive the same kind.

#include <string>

#include "serial_port.hpp"

struct PseudoTerminal {
    SerialPort device;    // the controller side; never taken from anyone
    int lineHolder = -1;  // our own descriptor on the terminal side, so it never hangs up
    std::string terminalPath;
};

// Opens a new pair, its terminal side with echo off, as a serial line never sends the
// device's bytes back to it. On failure gives false and says why in `error`.
bool openPseudoTerminal(PseudoTerminal& line, std::string& error);
void closePseudoTerminal(PseudoTerminal& line);

// True once no program holds the line's lock (velmoran locks it while it has it open).
bool lineReleased(const PseudoTerminal& line);
// Closing the device's end hangs the line up and loses a reply still in flight: before
// that, give velmoran up to `timeoutMs` to let go.
void waitUntilLineReleased(const PseudoTerminal& line, int timeoutMs);
