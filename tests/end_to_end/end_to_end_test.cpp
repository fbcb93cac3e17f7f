// The end-to-end cases that hold for every build of the tool: the table, the line
// settings, the read window from both sides and a line that never drains. The target
// file linked beside this one says which build runs.

#include "end_to_end_target.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

void expectPortLetGo(StandInTerminal& port, const std::string& portWord)
{
    EXPECT_TRUE(lineReleased(port));
    EndToEndRun next = runOf(rowNamed("TypicalRun"));
    next.options = ordinaryUserOptions(port);
    const EndToEndOutcome outcome = runAgainstStandIn(endToEndTarget().tool, port, portWord, next);
    EXPECT_EQ(outcome.process.exitCode, 0) << outcome.process.out;
}

namespace {

std::vector<EndToEndCase> targetRows()
{
    std::vector<EndToEndCase> rows;
    for (const EndToEndCase& row : endToEndCases()) {
        if (targetRunsRow(row)) {
            rows.push_back(row);
        }
    }
    return rows;
}

using EndToEnd = TargetTestWithParam<EndToEndCase>;

TEST_P(EndToEnd, MatchesRow)
{
    const EndToEndCase& row = GetParam();
    std::string portWord;
    StandInTerminal port = openTargetPort(portWord);
    const EndToEndOutcome outcome = runAgainstStandIn(endToEndTarget().tool, port, portWord, runOf(row));
    expectCaseHolds(row, outcome, portWord, endToEndTarget().tool);
    closeStandInTerminal(port);
}

INSTANTIATE_TEST_SUITE_P(Table, EndToEnd, ::testing::ValuesIn(targetRows()),
                         [](const ::testing::TestParamInfo<EndToEndCase>& info) { return std::string(info.param.name); });

using LineSettings = TargetTestWithParam<bool>;

// Raw 115200 8N1 whatever the port had, and the modem-line flags left as they were,
// whether they were set or clear.
TEST_P(LineSettings, AreRaw115200With8N1AndKeepModemFlags)
{
    const EndToEndTarget& target = endToEndTarget();
    const bool flagsSet = GetParam();
    std::string portWord;
    StandInTerminal port = openTargetPort(portWord);
    termios before = currentTerminalSettings(port);
    before.c_cflag &= ~target.toggledControlFlags;
    before.c_cflag |= flagsSet ? target.toggledControlFlags : 0;
    tcsetattr(port.lineHolder, TCSANOW, &before);

    char log[] = "/tmp/velmoran-line-requests-XXXXXX";
    const int logFile = mkstemp(log);
    ASSERT_GE(logFile, 0);
    close(logFile);
    const EndToEndOutcome outcome =
        runAgainstStandIn(tracingLineRequests(target.tool, log), port, portWord, runOf(rowNamed("TypicalRun")));
    ASSERT_TRUE(outcome.served) << outcome.process.err;
    EXPECT_EQ(outcome.process.exitCode, 0);
    const termios& seen = outcome.lineAtFrame.settings;
    expectRaw115200With8N1(seen, outcome.lineAtFrame.speed);
    expectOnly8N1Requested(log, port.terminalPath);
    EXPECT_EQ(seen.c_cflag & target.keptControlFlags, before.c_cflag & target.keptControlFlags);
    unlink(log);
    closeStandInTerminal(port);
}

INSTANTIATE_TEST_SUITE_P(ModemFlags, LineSettings, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "AllSet" : "AllClear");
                         });

// The window users rely on, written here rather than taken from the code, so that a
// change to the code's constant cannot move the test along with it.
constexpr double kReadWindowMs = 11.0;
constexpr int kWindowRuns = 7;

// The device answers a fixed time after it saw the frame end. Each side of the window
// is judged by the majority of a few runs, so that one late hop on a busy machine
// cannot decide it. `prompt` runs the tool at real-time priority, so that a busy
// machine cannot start its window late and let a late reply in.
int acknowledgedRuns(double replyDelayMs, bool prompt)
{
    int acknowledged = 0;
    for (int attempt = 0; attempt < kWindowRuns; ++attempt) {
        std::string portWord;
        StandInTerminal port = openTargetPort(portWord);
        EndToEndRun run = runOf(rowNamed("TypicalRun"));
        run.behaviour.device.replyDelayMs = replyDelayMs;
        run.options.prompt = prompt;
        const EndToEndOutcome outcome = runAgainstStandIn(endToEndTarget().tool, port, portWord, run);
        EXPECT_TRUE(outcome.process.exitCode == 0 || outcome.process.exitCode == 7) << outcome.process.out;
        acknowledged += outcome.process.exitCode == 0 ? 1 : 0;
        closeStandInTerminal(port);
    }
    return acknowledged;
}

using ReadWindow = TargetTest;

TEST_F(ReadWindow, ReplyLateInTheWindowIsTaken)
{
    const double delay = kReadWindowMs - endToEndTarget().replySlackInsideMs;
    // At normal priority: when the machine holds up the hops to the device and back,
    // it holds the tool up too, and the two cancel out.
    EXPECT_GT(acknowledgedRuns(delay, false), kWindowRuns / 2) << "replies " << delay << " ms after the frame";
}

TEST_F(ReadWindow, ReplyAfterTheWindowIsRefused)
{
    const double delay = kReadWindowMs + endToEndTarget().replySlackOutsideMs;
    EXPECT_LE(acknowledgedRuns(delay, true), kWindowRuns / 2) << "replies " << delay << " ms after the frame";
}

using Faults = TargetTest;

// A device that has stopped reading: the write gives up at its time-out and the run
// ends with no acknowledgment instead of hanging on the line.
TEST_F(Faults, OutputThatNeverDrainsEndsWithinTheTimeOuts)
{
    const EndToEndTarget& target = endToEndTarget();
    std::string portWord;
    StandInTerminal port = openTargetPort(portWord);
    fillOutgoingLine(port);
    EndToEndRun run = runOf(rowNamed("SilentDevice"));
    run.expectFrame = false;  // the device reads nothing
    run.options.timeoutMs = 10000;
    const EndToEndOutcome outcome = runAgainstStandIn(target.tool, port, portWord, run);
    ASSERT_FALSE(outcome.process.timedOut) << "the run hung on a line that never drains";
    EXPECT_EQ(printedText(outcome, target.tool), withPortWord(rowNamed("SilentDevice").expectedOut, portWord));
    EXPECT_EQ(outcome.process.exitCode, 7);
    // The write time-out for 9 bytes is 650 ms, the read window 11 ms; the upper bound
    // catches a write left unbounded, with room for Wine's start.
    EXPECT_GE(outcome.process.elapsedMs, 600.0);
    EXPECT_LT(outcome.process.elapsedMs, 3000.0);
    ExchangeRecord junk;
    collectLateBytes(port, junk);
    expectPortLetGo(port, portWord);
    closeStandInTerminal(port);
}

}  // namespace
