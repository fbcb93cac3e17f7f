#pragma once

// Runs the real tool once against a stand-in device on a pseudo-terminal, with
// the device serving the exchange on a thread of its own meanwhile.

#include <ostream>
#include <string>
#include <vector>

#include "end_to_end_cases.hpp"
#include "exchange.hpp"
#include "process_runner.hpp"
#include "standin_port.hpp"

struct ToolCommand {
    std::vector<std::string> prefix;  // the program, and any words before the tool's own
    FreshPortFlavour flavour = FreshPortFlavour::Linux;
    bool windowsConsole = false;      // its output may come back with CR LF line ends
};

struct EndToEndOutcome {
    ProcessResult process;
    ExchangeRecord record;
    bool served = false;  // the device saw a frame
};

struct EndToEndRun {
    std::vector<std::string> words;  // "{port}" stands for the port word
    DeviceBehaviour behaviour;
    LineSetup setup = LineSetup::Fresh;
    bool expectFrame = true;
    ProcessOptions options;
};

EndToEndOutcome runAgainstStandIn(const ToolCommand& tool, StandInPort& port, const std::string& portWord,
                                  const EndToEndRun& run);

// What the tool printed, with a Windows console's CR LF line ends made LF.
std::string printedText(const EndToEndOutcome& outcome, const ToolCommand& tool);

// Checks output, exit code and the bytes the device received against the row.
void expectCaseHolds(const EndToEndCase& row, const EndToEndOutcome& outcome, const std::string& portWord,
                     const ToolCommand& tool);

// Checks that the line was set to 115200 baud 8N1, raw both ways, as the device
// saw it while the frame arrived.
void expectRaw115200With8N1(const termios& seen);

// Fills the line towards the device until it takes no more, as a device that has
// stopped reading leaves it.
void fillOutgoingLine(const StandInPort& port);

// The table's row of that name.
const EndToEndCase& rowNamed(const std::string& name);

double millisecondsBetween(StandInClock::time_point from, StandInClock::time_point to);

// Names the row in test output.
void PrintTo(const EndToEndCase& row, std::ostream* os);

// Gives the row's run.
EndToEndRun runOf(const EndToEndCase& row);
