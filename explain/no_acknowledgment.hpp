#pragma once

// Why no acknowledgment came, said to the person at the PC from what the run saw: a reply
// that came after the window, the line errors the driver saw (a line held low, bytes not
// at 115200 8N1, bytes lost), or nothing at all on a port named for what it is. Each
// finding is one line on standard error; standard output and the exit status stay as
// they are. Gathered only after a missed acknowledgment.
//
// One header for every platform: no_acknowledgment_text.cpp words the lines;
// port_identity_linux.cpp, port_identity_win32.cpp and port_identity_other.cpp say what a
// port is.

#include <cstdint>
#include <string>
#include <vector>

#include "../link/serial_link.hpp"
#include "bridge_latency.hpp"

struct NoAcknowledgmentEvidence {
    std::string portWord;   // as the user gave it
    LateReply late;
    LineErrors errors;      // during the run
    BridgeLatency latency;  // the USB bridge's timer, where the port is an FTDI one
    std::string portIs;     // what the port is; empty when unknown or not looked up
};

// Whether the evidence leaves only "nothing came back", the one finding that names the
// port: only then is it worth looking the port up.
bool nothingCameBack(const NoAcknowledgmentEvidence& evidence);

// The lines to print on standard error, each without its line end. The FTDI timer line
// comes first where the timer is too long for the window.
std::vector<std::string> explainNoAcknowledgment(const NoAcknowledgmentEvidence& evidence);

// What the held port is, as a person would name it: "a pseudo-terminal", "FT232R USB UART
// by FTDI (USB 0403:6001, driver ftdi_sio)", Device Manager's "Standard Serial over
// Bluetooth link (COM5)". Empty when the system does not say.
std::string describePort(const SerialPort& port, std::int32_t portNumber);
