#pragma once

// velmoran-sim's command line: the port it serves and how the device answers.

#include <string>

#include "exchange.hpp"

struct SimOptions {
    std::string portWord;  // empty: a pseudo-terminal of its own
    DeviceBehaviour behaviour;
    long frames = 0;  // 0: until stopped
    long ignoreFirst = 0;
};

// Gives 0 to go on, or the process exit code to stop with (0 after --help). A word that
// is wrong gets one line on standard error.
int parseOptions(int argc, char** argv, SimOptions& options);
