// The native tool against the stand-in device, with the pseudo-terminal's path
// as the port word.

#include "standin_harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

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
    resetTerminalSettings(port, FreshPortFlavour::Linux, GetParam().setBeforeRun);
    termios before = currentTerminalSettings(port);
    before.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    before.c_cflag |= GetParam().setBeforeRun;
    tcsetattr(port.lineHolder, TCSANOW, &before);

    const EndToEndOutcome outcome =
        runAgainstStandIn(kNativeTool, port, port.terminalPath, runOf(rowNamed("TypicalRun")));
    ASSERT_TRUE(outcome.served);
    EXPECT_EQ(outcome.process.exitCode, 0);

    const termios& seen = outcome.record.settingsAtFrame;
    EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B115200));
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(seen.c_cflag & CREAD, 0u);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(seen.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | IXON | IXOFF | IXANY | BRKINT), 0u);
    EXPECT_EQ(seen.c_oflag & OPOST, 0u);
    EXPECT_EQ(seen.c_cflag & (CRTSCTS | HUPCL | CLOCAL), GetParam().setBeforeRun | CLOCAL);
    closeStandInPort(port);
}

INSTANTIATE_TEST_SUITE_P(ModemFlags, LineSettings,
                         ::testing::Values(FlowControlCase {"NoneSet", 0},
                                           FlowControlCase {"HardwareFlowControlAndHupcl", CRTSCTS | HUPCL}),
                         [](const ::testing::TestParamInfo<FlowControlCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ExchangeTiming, SilentDeviceGetsTheWholeReadWindow)
{
    StandInPort port = openPort();
    const EndToEndOutcome outcome =
        runAgainstStandIn(kNativeTool, port, port.terminalPath, runOf(rowNamed("SilentDevice")));
    ASSERT_TRUE(outcome.served);
    EXPECT_EQ(outcome.process.exitCode, 7);
    EXPECT_GE(millisecondsBetween(outcome.record.frameCompleteAt, outcome.process.endedAt), 10.0);
    closeStandInPort(port);
}

TEST(ExchangeTiming, HangUpAndFloodEndPromptly)
{
    for (const char* name : {"HangUpAfterFrame", "FloodingDevice"}) {
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

TEST(PortSafety, OrdinaryUserRunsAgainAndAgain)
{
    StandInPort port = openPort();
    ProcessOptions options;
    if (geteuid() == 0) {
        // Root passes the exclusive flag; an ordinary user is what it locks out.
        constexpr int kNobody = 65534;
        ASSERT_EQ(chown(port.terminalPath.c_str(), kNobody, kNobody), 0);
        options.runAsUid = kNobody;
    }
    for (int round = 0; round < 3; ++round) {
        EndToEndRun run = runOf(rowNamed("TypicalRun"));
        run.options = options;
        const EndToEndOutcome outcome = runAgainstStandIn(kNativeTool, port, port.terminalPath, run);
        EXPECT_EQ(outcome.process.exitCode, 0) << "round " << round << ": " << outcome.process.out;
    }
    closeStandInPort(port);
}

}  // namespace
