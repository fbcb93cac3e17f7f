#pragma once

// Runs the real tool once against a stand-in device on a pseudo-terminal, with
// the device serving the exchange on a thread of its own meanwhile.

#include <ostream>
#include <string>
#include <vector>

#include "end_to_end_cases.hpp"
#include "standin_exchange.hpp"
#include "process_runner.hpp"
#include "standin_pty.hpp"

struct ToolCommand {
    std::vector<std::string> prefix;  // the program, and any words before the tool's own
    FreshPortFlavour flavour = FreshPortFlavour::Linux;
    bool windowsConsole = false;      // its output may come back with CR LF line ends
    // Far more than a run takes here, and far less than the stand-in's flood lasts: a run
    // that waits for something that never comes is caught on every row.
    double runLimitMs = 2000;
};

struct EndToEndOutcome {
    ProcessResult process;
    ExchangeRecord record;
    LineAtFrame lineAtFrame;
    bool served = false;  // the device saw a frame
    termios settingsBefore {};
    termios settingsAfter {};
};

struct EndToEndRun {
    std::vector<std::string> words;  // "{port}" stands for the port word
    StandInBehaviour behaviour;
    LineSetup setup = LineSetup::Fresh;
    bool expectFrame = true;
    ProcessOptions options;
};

EndToEndOutcome runAgainstStandIn(const ToolCommand& tool, StandInTerminal& port, const std::string& portWord,
                                  const EndToEndRun& run);

// What the tool printed, with a Windows console's CR LF line ends made LF.
std::string printedText(const EndToEndOutcome& outcome, const ToolCommand& tool);

// Checks output, exit code and the bytes the device received against the row.
void expectCaseHolds(const EndToEndCase& row, const EndToEndOutcome& outcome, const std::string& portWord,
                     const ToolCommand& tool);

// Checks that the line was set to 115200 baud 8N1, raw both ways, as the device
// saw it while the frame arrived.
void expectRaw115200With8N1(const termios& seen, const LineSpeed& speed);

// Every line setting the same: speed, modes and control characters.
bool sameLineSettings(const termios& a, const termios& b);

// A pseudo-terminal keeps no parity and always 8 data bits, whatever is asked of it, so
// the frame's format is checked on what the tool asked the kernel for. The tool runs
// under strace, which writes every line setting requested to the log.
ToolCommand tracingLineRequests(const ToolCommand& tool, const std::string& log);
// Every line setting that the log shows requested for the terminal: 8 data bits, no
// parity, one stop bit. At least one must be there.
void expectOnly8N1Requested(const std::string& log, const std::string& terminalPath);

// Fills the line towards the device until it takes no more, as a device that has
// stopped reading leaves it.
void fillOutgoingLine(const StandInTerminal& port);

// The table's row of that name.
const EndToEndCase& rowNamed(const char* name);

// Names the row in test output.
void PrintTo(const EndToEndCase& row, std::ostream* os);

// Gives the row's run.
EndToEndRun runOf(const EndToEndCase& row);
