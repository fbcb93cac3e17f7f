#pragma once

// Runs a program as a separate process and collects what it printed and how it
// ended, with a time limit so that a hung run fails its test instead of the suite.

#include <functional>
#include <string>
#include <vector>

enum class StdoutMode {
    Capture,         // a pipe read to the end
    Closed,          // descriptor 1 closed before the program starts
    FirstLineOnly,   // a pipe whose reader goes away after the first line, as `| head -1`
};

struct ProcessOptions {
    StdoutMode stdoutMode = StdoutMode::Capture;
    int timeoutMs = 20000;
    int runAsUid = -1;  // when root: the user (and group of the same number) to run as
    // Real-time scheduling where the machine allows it, so that a busy machine cannot
    // hold the program up between two of its own steps; otherwise it runs as usual.
    bool prompt = false;
    // When not 0, sent as soon as stopWhen says so of the running program (asked every
    // few milliseconds): a stop timed by the clock alone may come before a slow start
    // (an emulator on a busy machine) has reached what the test means to stop.
    int stopSignal = 0;
    std::function<bool(int pid)> stopWhen;
    int blockedSignal = 0;  // blocked from the start, as a caller may leave it, when not 0
    // The terminal to start from, in a session of its own: the program's controlling
    // terminal and its standard input; or, when not controlling, a terminal that is only
    // its standard input and output, as for a service whose output goes to a serial console.
    std::string terminal;
    bool terminalControls = true;
};

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;   // -1 unless the process exited normally
    int signal = 0;      // the signal that ended it, if any
    std::string out;
    std::string err;
    double elapsedMs = 0;
};

// argv[0] is the program's full path; PATH is not searched.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// The text with every CR LF turned into LF, for output that passed through a
// Windows console.
std::string withUnixLineEnds(const std::string& text);
