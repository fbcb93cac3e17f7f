#pragma once

// The build of the tool that one end-to-end test program runs: the native velmoran,
// or velmoran.exe under Wine. The shared cases ask it how to start the tool, how a
// port is named there and what that platform leaves of the line settings.

#include <string>

#include <gtest/gtest.h>

#include "end_to_end_cases.hpp"
#include "standin_harness.hpp"

struct EndToEndTarget {
    ToolCommand tool;
    // Control flags that a run must leave as the port had them, and which of those the
    // line-settings case sets and clears before a run.
    tcflag_t keptControlFlags;
    tcflag_t toggledControlFlags;
    // How far inside and outside the 11 ms read window the window cases reply. The
    // device's clock and the tool's differ by the hops through the terminal and, under
    // Wine, its server, so a reply reaches the tool a little after the device sent it.
    double replySlackInsideMs;
    double replySlackOutsideMs;
};

const EndToEndTarget& endToEndTarget();

// Empty when the target can run; otherwise why not (no Wine, no prefix, ...).
std::string endToEndTargetProblem();

// Whether a table row applies to this target.
bool targetRunsRow(const EndToEndCase& row);

// A new stand-in port, set up as a fresh port of the target's platform, and the word
// that names it on the command line.
StandInTerminal openTargetPort(std::string& portWord);

// How an ordinary user runs the tool on this port.
ProcessOptions ordinaryUserOptions(const StandInTerminal& port);

// The port was purged, unlocked and closed as usual: the next ordinary run works.
void expectPortLetGo(StandInTerminal& port, const std::string& portWord);

// Every end-to-end case starts here: a target that cannot run fails the case and
// says why, never skips it.
class TargetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(endToEndTargetProblem(), ""); }
};

template <class Param>
class TargetTestWithParam : public TargetTest, public ::testing::WithParamInterface<Param> {};
