// The native tool against the stand-in device, with the pseudo-terminal's path
// as the port word.

#include "standin_harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const ToolCommand kNativeTool = {{VELMORAN_BINARY}, FreshPortFlavour::Linux, false};

StandInPort openPort()
{
    StandInPort port;
    std::string error;
    EXPECT_TRUE(openStandInPort(port, error)) << error;
    return port;
}

class NativeEndToEnd : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(NativeEndToEnd, MatchesRow)
{
    const EndToEndCase& row = GetParam();
    StandInPort port = openPort();
    const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, runOf(row));
    expectCaseHolds(row, outcome, port.terminalPath, kNativeTool);
    closeStandInPort(port);
}

INSTANTIATE_TEST_SUITE_P(Table, NativeEndToEnd, ::testing::ValuesIn(endToEndCases()),
                         [](const ::testing::TestParamInfo<EndToEndCase>& info) { return std::string(info.param.name); });

struct FlowControlCase {
    const char* name;
    tcflag_t setBeforeRun;
};

class LineSettings : public ::testing::TestWithParam<FlowControlCase> {};

void PrintTo(const FlowControlCase& c, std::ostream* os)
{
    *os << c.name;
}

TEST_P(LineSettings, AreRaw115200With8N1AndKeepModemFlags)
{
    StandInPort port = openPort();
    // A fresh port has HUPCL; take it away too, to see that it is left alone either way.
    termios before = currentTerminalSettings(port);
    before.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    before.c_cflag |= GetParam().setBeforeRun;
    tcsetattr(port.lineHolder, TCSANOW, &before);

    const EndToEndOutcome outcome =
        runAgainstStandIn(kNativeTool, port, port.terminalPath, runOf(rowNamed("TypicalRun")));
    ASSERT_TRUE(outcome.served);
    EXPECT_EQ(outcome.process.exitCode, 0);

    const termios& seen = outcome.record.settingsAtFrame;
    expectRaw115200With8N1(seen);
    EXPECT_EQ(seen.c_cflag & (CRTSCTS | HUPCL | CLOCAL), GetParam().setBeforeRun | CLOCAL);
    closeStandInPort(port);
}

INSTANTIATE_TEST_SUITE_P(ModemFlags, LineSettings,
                         ::testing::Values(FlowControlCase {"NoneSet", 0},
                                           FlowControlCase {"HardwareFlowControlAndHupcl", CRTSCTS | HUPCL}),
                         [](const ::testing::TestParamInfo<FlowControlCase>& info) {
                             return std::string(info.param.name);
                         });

// The device sees the frame a little after it went out, and later still when the
// machine is busy, which shortens the wait it measures; a tool that waits the whole
// window shows it in one of a few runs, one that cuts the window short never does.
TEST(ExchangeTiming, SilentDeviceGetsTheWholeReadWindow)
{
    double longestWait = 0;
    for (int attempt = 0; attempt < 5 && longestWait < 10.0; ++attempt) {
        StandInPort port = openPort();
        const EndToEndOutcome outcome =
            runAgainstStandIn(kNativeTool, port, port.terminalPath, runOf(rowNamed("SilentDevice")));
        ASSERT_TRUE(outcome.served);
        EXPECT_EQ(outcome.process.exitCode, 7);
        longestWait = std::max(longestWait, millisecondsBetween(outcome.record.frameCompleteAt, outcome.process.endedAt));
        closeStandInPort(port);
    }
    EXPECT_GE(longestWait, 10.0);
}

TEST(ExchangeTiming, HangUpAndFloodEndPromptly)
{
    for (const char* name : {"HangUpAfterFrame", "DeviceDisappearsWhileWaiting", "FloodingDevice"}) {
        StandInPort port = openPort();
        const EndToEndCase& row = rowNamed(name);
        const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, runOf(row));
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
    const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, next);
    EXPECT_EQ(outcome.process.exitCode, 0) << outcome.process.out;
}

TEST(PortSafety, OrdinaryUserRunsAgainAndAgain)
{
    StandInPort port = openPort();
    const ProcessOptions options = asOrdinaryUser(port);
    for (int round = 0; round < 3; ++round) {
        EndToEndRun run = runOf(rowNamed("TypicalRun"));
        run.options = options;
        const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, run);
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
    const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, run);
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

// Fills the line towards the device until it takes no more, as a device that has
// stopped reading leaves it. The kernel moves bytes along behind the writer, so
// fill again after a pause until nothing more goes in.
void fillOutgoingLine(const StandInPort& port)
{
    termios raw = currentTerminalSettings(port);
    cfmakeraw(&raw);
    tcsetattr(port.lineHolder, TCSANOW, &raw);
    const std::uint8_t junk = 0xEE;
    for (int round = 0; round < 50; ++round) {
        int accepted = 0;
        while (write(port.lineHolder, &junk, 1) == 1) {
            ++accepted;
        }
        if (accepted == 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ADD_FAILURE() << "the line never filled up";
}

TEST(Faults, OutputThatNeverDrainsEndsWithinTheTimeOuts)
{
    StandInPort port = openPort();
    fillOutgoingLine(port);
    EndToEndRun run = runOf(rowNamed("SilentDevice"));
    run.expectFrame = false;  // the device reads nothing
    const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, run);
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
