#pragma once

// Why a port could not be opened, said to the person at the PC: one line naming the cause
// and its fix and, when the port does not exist, one listing the serial ports the PC has.
// Looked up only after a refused open, so that a run that opens its port pays nothing.
// It reads the system's own records (sysfs, /proc, the registry) and never opens a port.
//
// One header for every platform: open_failure_linux.cpp, open_failure_win32.cpp and
// open_failure_other.cpp look; open_failure_text.cpp (on POSIX with open_failure_posix_text.cpp)
// words what they found.

#include <cstddef>
#include <string>
#include <vector>

#include "../link/serial_port.hpp"

struct OpenFailure {
    std::string portWord;     // as the user gave it
    std::string devicePath;   // what was opened; empty when the word names no device
    PortRefusal refusal = PortRefusal::CannotOpen;
    long systemError = 0;     // errno or GetLastError(), read straight after the failed call
};

// The lines to print on standard error, each without its line end.
std::vector<std::string> explainOpenFailure(const OpenFailure& failure);

// A port the PC has, as the listing names it: "COM7" or "/dev/ttyUSB0", with what else
// names it ("USB Serial Port (COM7)", a /dev/serial/by-id link).
struct PresentPort {
    std::string name;
    std::string alsoNamed;
};

// At most this many ports are named; the rest are counted.
constexpr std::size_t kMostPortsListed = 12;

// "velmoran: the serial ports here are A, B (b's name), ... and N more.", in the order
// given, or that none is present.
std::string presentPortsLine(const std::vector<PresentPort>& ports);

// The line for a refusal of what is no port to send on: not a terminal device, or the
// terminal velmoran was started from (POSIX). Empty for any other refusal.
std::string notAPortLine(PortRefusal refusal, const std::string& path);

// The lines each POSIX system words alike. `holders` are the programs seen with the port,
// "velmoran-sim (PID 1234)"; none, and it is "another program".
std::string inUseLine(const std::string& path, const std::vector<std::string>& holders);
// `firstPort` names what COM1 is here, where the system has such a rule; else empty.
std::string namesNoPortLine(const std::string& word, const std::string& firstPort);
// POSIX only (open_failure_posix_text.cpp): the system's own words for an errno, "No such
// device (error 19)", and the line for a refusal with no better explanation.
std::string systemErrorText(long systemError);
std::string cannotOpenLine(const std::string& path, long systemError);

// Text from the system or the user, made safe for one line: printable ASCII only (anything
// else as '?'), at most `longest` characters.
std::string oneLineAscii(const std::string& text, std::size_t longest = 200);

// Names sorted as a person counts them: "COM2" before "COM10", "ttyS9" before "ttyS10".
bool comesBeforeNaturally(const std::string& left, const std::string& right);
