// The Windows build under Wine against the stand-in device: the terminal's path is
// linked into the Wine prefix as a COM port, and the port word is COMn.

#include "standin_harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

const std::string kWindowsExe = VELMORAN_WINDOWS_EXE;
const std::string kPrefixScript = WINE_PREFIX_SCRIPT;

std::string wineLoader()
{
    for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64"}) {
        if (access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

bool underCi()
{
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// One prefix and one wineserver for the whole program.
class WinePrefix : public ::testing::Environment {
public:
    void SetUp() override
    {
        char directory[] = "/tmp/velmoran-wine-XXXXXX";
        if (wineLoader().empty() || access(kWindowsExe.c_str(), R_OK) != 0 || mkdtemp(directory) == nullptr) {
            return;
        }
        prefix_ = directory;
        setenv("WINEPREFIX", prefix_.c_str(), 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("WINELOADER", wineLoader().c_str(), 1);
        ready_ = std::system((kPrefixScript + " start " + prefix_).c_str()) == 0;
    }

    void TearDown() override
    {
        if (!prefix_.empty()) {
            std::system((kPrefixScript + " stop " + prefix_).c_str());
        }
    }

    static bool ready() { return ready_; }
    static const std::string& prefix() { return prefix_; }

private:
    static bool ready_;
    static std::string prefix_;
};

bool WinePrefix::ready_ = false;
std::string WinePrefix::prefix_;

const ::testing::Environment* const kWinePrefix = ::testing::AddGlobalTestEnvironment(new WinePrefix);

// Skips where Wine or the Windows build is missing, except under CI, where the
// Windows leg must run.
#define REQUIRE_WINE()                                                                              \
    do {                                                                                            \
        if (!WinePrefix::ready()) {                                                                 \
            if (underCi()) {                                                                        \
                FAIL() << "Wine or " << kWindowsExe << " is missing, or the prefix did not start"; \
            }                                                                                       \
            GTEST_SKIP() << "no Wine prefix (is " << kWindowsExe << " built?)";                   \
        }                                                                                           \
    } while (false)

ToolCommand windowsTool()
{
    return {{wineLoader(), kWindowsExe}, FreshPortFlavour::Windows, true};
}

// A new stand-in port, set up as a fresh Windows port and reachable as COMn.
StandInPort openComPort(int number, tcflag_t extraControlFlags = 0)
{
    StandInPort port;
    std::string error;
    EXPECT_TRUE(openStandInPort(port, error)) << error;
    resetTerminalSettings(port, FreshPortFlavour::Windows, extraControlFlags);
    const std::string link = WinePrefix::prefix() + "/dosdevices/com" + std::to_string(number);
    unlink(link.c_str());
    EXPECT_EQ(symlink(port.terminalPath.c_str(), link.c_str()), 0);
    return port;
}

std::string comWord(int number)
{
    return "COM" + std::to_string(number);
}

std::vector<EndToEndCase> windowsRows()
{
    std::vector<EndToEndCase> rows;
    for (const EndToEndCase& row : endToEndCases()) {
        if (!row.posixOnly) {
            rows.push_back(row);
        }
    }
    return rows;
}

constexpr int kHighPort = 12;  // beyond COM9, which needs the \\.\COMn form

class WineEndToEnd : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(WineEndToEnd, MatchesRow)
{
    REQUIRE_WINE();
    const EndToEndCase& row = GetParam();
    StandInPort port = openComPort(kHighPort);
    const EndToEndOutcome outcome = runAgainstStandIn(windowsTool(), port, comWord(kHighPort), runOf(row));
    expectCaseHolds(row, outcome, comWord(kHighPort), windowsTool());
    closeStandInPort(port);
}

INSTANTIATE_TEST_SUITE_P(Table, WineEndToEnd, ::testing::ValuesIn(windowsRows()),
                         [](const ::testing::TestParamInfo<EndToEndCase>& info) { return std::string(info.param.name); });

TEST(WinePorts, LowAndHighNumbersOpenAlike)
{
    REQUIRE_WINE();
    for (int number : {3, 10, 99}) {
        StandInPort port = openComPort(number);
        const EndToEndCase& row = rowNamed("TypicalRun");
        const EndToEndOutcome outcome = runAgainstStandIn(windowsTool(), port, comWord(number), runOf(row));
        expectCaseHolds(row, outcome, comWord(number), windowsTool());
        closeStandInPort(port);
    }
}

TEST(WinePorts, MissingPortFailsToOpen)
{
    REQUIRE_WINE();
    const ProcessResult result = runProcess({wineLoader(), kWindowsExe, "COM77", "0x1FFFFFF0"});
    EXPECT_EQ(withUnixLineEnds(result.out),
              "Program to select CAN ID for download, Version 1.00\nError opening serial port COM77\n");
    EXPECT_EQ(result.exitCode, 3);
}

TEST(WineLineSettings, AreRaw115200With8N1AndKeepHardwareFlowControl)
{
    REQUIRE_WINE();
    for (tcflag_t flowControl : {tcflag_t {0}, tcflag_t {CRTSCTS}}) {
        StandInPort port = openComPort(kHighPort, flowControl);
        const EndToEndOutcome outcome =
            runAgainstStandIn(windowsTool(), port, comWord(kHighPort), runOf(rowNamed("TypicalRun")));
        ASSERT_TRUE(outcome.served);
        EXPECT_EQ(outcome.process.exitCode, 0);
        const termios& seen = outcome.record.settingsAtFrame;
        expectRaw115200With8N1(seen);
        EXPECT_EQ(seen.c_cflag & CRTSCTS, flowControl);
        closeStandInPort(port);
    }
}

// The device sees the frame a little after it went out, and later still when the
// machine is busy, which shortens the wait it measures; a tool that waits the whole
// window shows it in one of a few runs, one that cuts the window short never does.
TEST(WineTiming, SilentDeviceGetsTheWholeReadWindow)
{
    REQUIRE_WINE();
    double longestWait = 0;
    for (int attempt = 0; attempt < 5 && longestWait < 10.0; ++attempt) {
        StandInPort port = openComPort(kHighPort);
        const EndToEndOutcome outcome =
            runAgainstStandIn(windowsTool(), port, comWord(kHighPort), runOf(rowNamed("SilentDevice")));
        ASSERT_TRUE(outcome.served);
        EXPECT_EQ(outcome.process.exitCode, 7);
        longestWait = std::max(longestWait, millisecondsBetween(outcome.record.frameCompleteAt, outcome.process.endedAt));
        closeStandInPort(port);
    }
    EXPECT_GE(longestWait, 10.0);
}

}  // namespace
