// The native tool against the stand-in device, with the pseudo-terminal's path as
// the port word; and the cases only a POSIX system can show.

#include "end_to_end_target.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

const EndToEndTarget& endToEndTarget()
{
    static const EndToEndTarget target = {
        {{VELMORAN_BINARY}, FreshPortFlavour::Linux, false},
        CRTSCTS | HUPCL | CLOCAL,
        CRTSCTS | HUPCL,
    };
    return target;
}

std::string endToEndTargetProblem()
{
    return "";
}

bool targetRunsRow(const EndToEndCase&)
{
    return true;
}

StandInPort openTargetPort(std::string& portWord, tcflag_t extraControlFlags)
{
    StandInPort port;
    std::string error;
    EXPECT_TRUE(openStandInPort(port, error)) << error;
    if (extraControlFlags != 0) {
        resetTerminalSettings(port, FreshPortFlavour::Linux, extraControlFlags);
    }
    portWord = port.terminalPath;
    return port;
}

namespace {

const ToolCommand& nativeTool()
{
    return endToEndTarget().tool;
}

StandInPort openPort()
{
    std::string portWord;
    return openTargetPort(portWord);
}

TEST(ExchangeTiming, HangUpAndFloodEndPromptly)
{
    for (const char* name : {"HangUpAfterFrame", "DeviceDisappearsWhileWaiting", "FloodingDevice"}) {
        StandInPort port = openPort();
        const EndToEndCase& row = rowNamed(name);
        const EndToEndOutcome outcome = runAgainstStandIn(nativeTool(), port, port.terminalPath, runOf(row));
        EXPECT_EQ(outcome.process.exitCode, row.expectedExit) << name;
        // Generous: this only catches a run that waits for something that never comes.
        EXPECT_LT(outcome.process.elapsedMs, 1000.0) << name;
        closeStandInPort(port);
    }
}

TEST(PortSafety, RegularFileUnderDevIsNeverWritten)
{
    char path[] = "/dev/shm/velmoran-port-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0) {
        GTEST_SKIP() << "no /dev/shm here";
    }
    const std::string contents = "contents that must stay\n";
    ASSERT_EQ(write(file, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    close(file);

    const ProcessResult result = runProcess({VELMORAN_BINARY, path, "0x1FFFFFF0", "0x01", "0x02"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, std::string("Program to select CAN ID for download, Version 1.00\n"
                                      "Error opening serial port ") +
                              path + "\n");
    std::ifstream reread(path, std::ios::binary);
    std::stringstream after;
    after << reread.rdbuf();
    EXPECT_EQ(after.str(), contents);
    unlink(path);
}

// Runs as an ordinary user with access to the port: root passes the exclusive
// flag, and an ordinary user is what a flag left behind would lock out.
ProcessOptions asOrdinaryUser(const StandInPort& port)
{
    ProcessOptions options;
    if (geteuid() == 0) {
        constexpr int kNobody = 65534;
        EXPECT_EQ(chown(port.terminalPath.c_str(), kNobody, kNobody), 0);
        options.runAsUid = kNobody;
    }
    return options;
}

// The port was purged, unlocked and closed as usual: the next ordinary run works.
void expectPortLetGo(StandInPort& port)
{
    EXPECT_TRUE(lineReleased(port));
    EndToEndRun next = runOf(rowNamed("TypicalRun"));
    next.options = asOrdinaryUser(port);
    const EndToEndOutcome outcome = runAgainstStandIn(nativeTool(), port, port.terminalPath, next);
    EXPECT_EQ(outcome.process.exitCode, 0) << outcome.process.out;
}

TEST(PortSafety, OrdinaryUserRunsAgainAndAgain)
{
    StandInPort port = openPort();
    const ProcessOptions options = asOrdinaryUser(port);
    for (int round = 0; round < 3; ++round) {
        EndToEndRun run = runOf(rowNamed("TypicalRun"));
        run.options = options;
        const EndToEndOutcome outcome = runAgainstStandIn(nativeTool(), port, port.terminalPath, run);
        EXPECT_EQ(outcome.process.exitCode, 0) << "round " << round << ": " << outcome.process.out;
    }
    closeStandInPort(port);
}

struct OutputFaultCase {
    const char* name;
    StdoutMode stdoutMode;
    const char* row;
};

void PrintTo(const OutputFaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class OutputGoesAway : public ::testing::TestWithParam<OutputFaultCase> {};

// Output that fails must not cut the exchange short: the frame goes out, the port
// is let go as usual, and the exit code still tells what the line did.
TEST_P(OutputGoesAway, ExchangeStillCompletes)
{
    const OutputFaultCase& c = GetParam();
    const EndToEndCase& row = rowNamed(c.row);
    StandInPort port = openPort();
    EndToEndRun run = runOf(row);
    run.options = asOrdinaryUser(port);
    run.options.stdoutMode = c.stdoutMode;
    const EndToEndOutcome outcome = runAgainstStandIn(nativeTool(), port, port.terminalPath, run);
    EXPECT_EQ(outcome.process.signal, 0);
    EXPECT_EQ(outcome.process.exitCode, row.expectedExit);
    // Nothing meant for the console may go out on the line.
    EXPECT_EQ(outcome.record.received, row.expectedReceived);
    expectPortLetGo(port);
    closeStandInPort(port);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OutputGoesAway,
    ::testing::Values(OutputFaultCase {"ClosedStdoutAcknowledged", StdoutMode::Closed, "TypicalRun"},
                      OutputFaultCase {"ClosedStdoutSilent", StdoutMode::Closed, "SilentDevice"},
                      OutputFaultCase {"ReaderLeavesAcknowledged", StdoutMode::FirstLineOnly, "TypicalRun"},
                      OutputFaultCase {"ReaderLeavesSilent", StdoutMode::FirstLineOnly, "SilentDevice"}),
    [](const ::testing::TestParamInfo<OutputFaultCase>& info) { return std::string(info.param.name); });

TEST(Faults, OutputThatNeverDrainsEndsWithinTheTimeOuts)
{
    StandInPort port = openPort();
    fillOutgoingLine(port);
    EndToEndRun run = runOf(rowNamed("SilentDevice"));
    run.expectFrame = false;  // the device reads nothing
    const EndToEndOutcome outcome = runAgainstStandIn(nativeTool(), port, port.terminalPath, run);
    EXPECT_EQ(outcome.process.out, withPortWord(rowNamed("SilentDevice").expectedOut, port.terminalPath));
    EXPECT_EQ(outcome.process.exitCode, 7);
    // The write time-out for 9 bytes is 650 ms, the read window 11 ms; the upper
    // bound only catches a run that waits without end.
    EXPECT_GE(outcome.process.elapsedMs, 600.0);
    EXPECT_LT(outcome.process.elapsedMs, 3000.0);
    ExchangeRecord junk;
    collectLateBytes(port, junk);
    expectPortLetGo(port);
    closeStandInPort(port);
}

}  // namespace
