// The end-to-end cases that hold for every build of the tool: the table, the line
// settings and the read window. The target file linked
// beside this one says which build runs.

#include "end_to_end_target.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
    StandInPort port = openTargetPort(portWord);
    const EndToEndOutcome outcome = runAgainstStandIn(endToEndTarget().tool, port, portWord, runOf(row));
    expectCaseHolds(row, outcome, portWord, endToEndTarget().tool);
    closeStandInPort(port);
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
    StandInPort port = openTargetPort(portWord);
    termios before = currentTerminalSettings(port);
    before.c_cflag &= ~target.toggledControlFlags;
    before.c_cflag |= flagsSet ? target.toggledControlFlags : 0;
    tcsetattr(port.lineHolder, TCSANOW, &before);

    const EndToEndOutcome outcome = runAgainstStandIn(target.tool, port, portWord, runOf(rowNamed("TypicalRun")));
    ASSERT_TRUE(outcome.served);
    EXPECT_EQ(outcome.process.exitCode, 0);
    const termios& seen = outcome.record.settingsAtFrame;
    expectRaw115200With8N1(seen);
    EXPECT_EQ(seen.c_cflag & target.keptControlFlags, before.c_cflag & target.keptControlFlags);
    closeStandInPort(port);
}

INSTANTIATE_TEST_SUITE_P(ModemFlags, LineSettings, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "AllSet" : "AllClear");
                         });

// The device sees the frame a little after it went out, and later still when the
// machine is busy, which shortens the wait it measures; a tool that waits the whole
// window shows it in one of a few runs, one that cuts the window short never does.
using ReadWindow = TargetTest;

TEST_F(ReadWindow, SilentDeviceGetsTheWholeReadWindow)
{
    double longestWait = 0;
    for (int attempt = 0; attempt < 5 && longestWait < 10.0; ++attempt) {
        std::string portWord;
        StandInPort port = openTargetPort(portWord);
        const EndToEndOutcome outcome =
            runAgainstStandIn(endToEndTarget().tool, port, portWord, runOf(rowNamed("SilentDevice")));
        ASSERT_TRUE(outcome.served);
        EXPECT_EQ(outcome.process.exitCode, 7);
        longestWait = std::max(longestWait, millisecondsBetween(outcome.record.frameCompleteAt, outcome.process.endedAt));
        closeStandInPort(port);
    }
    EXPECT_GE(longestWait, 10.0);
}

}  // namespace
