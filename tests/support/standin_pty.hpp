#pragma once

// The stand-in device's pseudo-terminal as the tests and the benchmark drive it: a new
// pair whose terminal side plays a fresh serial port of either platform, and that side's
// settings read back.

#include <string>

#include <termios.h>

#include "pseudo_terminal.hpp"

using StandInTerminal = PseudoTerminal;

enum class FreshPortFlavour {
    Linux,    // as a Linux serial driver leaves a port: cooked, XON/XOFF on
    Windows,  // as Windows leaves a port: no software flow control
};

// Opens a new pair and sets the terminal side up as a fresh Linux serial port. On failure
// gives false and says why in `error`. closeStandInTerminal() closes it.
bool openStandInTerminal(StandInTerminal& port, std::string& error);

// Puts the terminal side back to a fresh port's settings, echo off (a serial line never
// sends the device's bytes back to it).
void resetTerminalSettings(const StandInTerminal& port, FreshPortFlavour flavour);

// The terminal side's settings as they are now.
termios currentTerminalSettings(const StandInTerminal& port);

// Closes both sides of the pair.
void closeStandInTerminal(StandInTerminal& port);
