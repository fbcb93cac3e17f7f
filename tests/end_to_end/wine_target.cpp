// The Windows build under Wine against the stand-in device: the terminal's path is
// linked into the Wine prefix as a COM port, and the port word is COMn.

#include "end_to_end_target.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

const std::string kWindowsExe = VELMORAN_WINDOWS_EXE;
const std::string kWineScript = VELMORAN_WINE_SCRIPT;
constexpr int kHighPort = 12;  // beyond COM9, which needs the \\.\COMn form
constexpr int kPrefixStartLimitMs = 180000;

struct WineSetup {
    std::string loader;
    std::string prefix;
    bool ownPrefix = false;
    std::string problem;
};

WineSetup& wine()
{
    static WineSetup setup;
    return setup;
}

// Finds Wine through the project's one script, and takes the prefix that CTest
// started for every case, or, when the program runs on its own, starts one.
std::string prepareWine(WineSetup& setup)
{
    if (access(kWindowsExe.c_str(), R_OK) != 0) {
        return kWindowsExe + " is missing: build this test program's target, which cross-builds it";
    }
    const ProcessResult located = runProcess({kWineScript, "locate"});
    std::istringstream paths(located.out);
    std::string server;
    if (located.exitCode != 0 || !std::getline(paths, setup.loader) || !std::getline(paths, server)) {
        return "Wine was not found: " + located.err;
    }
    setenv("WINELOADER", setup.loader.c_str(), 1);
    setenv("WINESERVER", server.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);

    const char* given = std::getenv("VELMORAN_WINE_PREFIX");
    if (given != nullptr && *given != '\0') {
        setup.prefix = given;
    } else {
        char directory[] = "/tmp/velmoran-wine-XXXXXX";
        if (mkdtemp(directory) == nullptr) {
            return "no temporary directory for a Wine prefix";
        }
        setup.prefix = directory;
        setup.ownPrefix = true;
        ProcessOptions patient;
        patient.timeoutMs = kPrefixStartLimitMs;
        const ProcessResult started = runProcess({kWineScript, "start", setup.prefix}, patient);
        if (started.exitCode != 0) {
            return "the Wine prefix did not start: " + started.err;
        }
    }
    setenv("WINEPREFIX", setup.prefix.c_str(), 1);
    if (access((setup.prefix + "/dosdevices").c_str(), W_OK) != 0) {
        return "no Wine prefix at " + setup.prefix + " (the windows leg's prefix_start cases make it)";
    }
    return "";
}

class WinePrefix : public ::testing::Environment {
public:
    void SetUp() override { wine().problem = prepareWine(wine()); }

    void TearDown() override
    {
        if (wine().ownPrefix) {
            runProcess({kWineScript, "stop", wine().prefix});
        }
    }
};

const ::testing::Environment* const kWinePrefix = ::testing::AddGlobalTestEnvironment(new WinePrefix);

// A new stand-in port, set up as a fresh Windows port and reachable as COMn.
StandInTerminal openComPort(int number)
{
    StandInTerminal port;
    std::string error;
    EXPECT_TRUE(openStandInTerminal(port, error)) << error;
    resetTerminalSettings(port, FreshPortFlavour::Windows);
    const std::string link = wine().prefix + "/dosdevices/com" + std::to_string(number);
    unlink(link.c_str());
    EXPECT_EQ(symlink(port.terminalPath.c_str(), link.c_str()), 0);
    return port;
}

std::string comWord(int number)
{
    return "COM" + std::to_string(number);
}

}  // namespace

const EndToEndTarget& endToEndTarget()
{
    // Built on first use, after the environment has found the loader. Wine's own
    // serial layer clears HUPCL, whatever the program asks, so that flag is not ours to keep.
    static const EndToEndTarget target = {
        {{wine().loader, kWindowsExe}, FreshPortFlavour::Windows, true, 5000},
        CRTSCTS | CLOCAL,
        CRTSCTS,
        2.0,  // a reply 9 ms after the frame is taken
        4.0,  // one 15 ms after it is refused, as a 20 ms window would not
    };
    return target;
}

std::string endToEndTargetProblem()
{
    return wine().problem;
}

// Wine runs every program as the user who runs the tests: it has no other user.
ProcessOptions ordinaryUserOptions(const StandInTerminal&)
{
    return {};
}

// A Windows command line holds at most 32767 characters, and Wine does not hold share
// mode 0 against a Linux program's lock, so those rows are POSIX only.
bool targetRunsRow(const EndToEndCase& row)
{
    return !row.posixOnly;
}

StandInTerminal openTargetPort(std::string& portWord)
{
    portWord = comWord(kHighPort);
    return openComPort(kHighPort);
}

namespace {

using WinePorts = TargetTest;

TEST_F(WinePorts, LowAndHighNumbersOpenAlike)
{
    for (int number : {3, 10, 99}) {
        StandInTerminal port = openComPort(number);
        const EndToEndCase& row = rowNamed("TypicalRun");
        const EndToEndOutcome outcome = runAgainstStandIn(endToEndTarget().tool, port, comWord(number), runOf(row));
        expectCaseHolds(row, outcome, comWord(number), endToEndTarget().tool);
        closeStandInTerminal(port);
    }
}

TEST_F(WinePorts, MissingPortFailsToOpen)
{
    const ProcessResult result = runProcess({wine().loader, kWindowsExe, "COM77", "0x1FFFFFF0"});
    EXPECT_EQ(withUnixLineEnds(result.out),
              "Program to select CAN ID for download, Version 1.00\nError opening serial port COM77\n");
    EXPECT_EQ(result.exitCode, 3);
}

}  // namespace
