#pragma once

// The end-to-end table: the real tool against the stand-in device, one row per
// behaviour. The same rows run against the native build and the Windows build.

#include <cstdint>
#include <string>
#include <vector>

#include "standin_exchange.hpp"

enum class LineSetup {
    Fresh,          // a fresh port, nothing waiting
    StaleByte,      // a byte waits in the receive buffer before the run
    LockedByOther,  // another program holds the port's lock
};

struct EndToEndCase {
    const char* name;
    std::vector<std::string> words;  // after the program's name; "{port}" is the port word
    StandInBehaviour behaviour;
    LineSetup setup;
    bool expectFrame;                // false: nothing may reach the device
    std::string expectedOut;         // "{port}" stands for the port word as typed
    int expectedExit;
    std::vector<std::uint8_t> expectedReceived;
    bool posixOnly;
    // A pattern for standard error, checked where the target's is the tool's own (not under
    // Wine's console); "{port}" as above.
    std::string expectedErr;
};

const std::vector<EndToEndCase>& endToEndCases();

// The text with every "{port}" replaced by the port word.
std::string withPortWord(const std::string& text, const std::string& portWord);
