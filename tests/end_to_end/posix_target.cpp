// A POSIX build of the tool against the stand-in device, with the pseudo-terminal's path
// as the port word: the native one, or another architecture's under qemu's user-mode
// emulation. And the cases only a POSIX system can show.
//
// One program serves every POSIX target; CTest names the target after GoogleTest's own
// options:
//   --tool=PATH                   the tool to run
//   --emulator=PATH               the emulator to run it with, where there is one
//   --reply-slack-inside-ms=MS    how far inside and outside the 11 ms window the
//   --reply-slack-outside-ms=MS   window's cases reply (see tests/CMakeLists.txt)

#include "end_to_end_target.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// True when every user may run the program at `path`: every folder on the way searchable
// by others, the file readable and runnable by them.
bool everyoneMayRun(const std::filesystem::path& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || (info.st_mode & (S_IROTH | S_IXOTH)) != (S_IROTH | S_IXOTH)) {
        return false;
    }
    for (std::filesystem::path folder = path.parent_path(); !folder.empty(); folder = folder.parent_path()) {
        if (stat(folder.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) {
            return false;
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
    return true;
}

// Removes `folder` once this process has ended, however it ends, a test killed at its
// time-out included: a shell in a session of its own waits for the end of a pipe that only
// this process holds open.
void removeOnceEnded(const std::string& folder)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            const int nowhere = open("/dev/null", O_WRONLY);
            dup2(ends[0], 0);
            dup2(nowhere, 1);
            dup2(nowhere, 2);
            execl("/bin/sh", "sh", "-c", "while read -r _; do :; done; rm -rf \"$1\"", "sh", folder.c_str(),
                  static_cast<char*>(nullptr));
        }
        _exit(0);
    }
    close(ends[0]);
    if (child > 0) {
        waitpid(child, nullptr, 0);
    }
}

// Root runs some cases as an ordinary user, who may not reach the build: a clone in root's
// own home (mode 0700) is the usual case. Those runs then take a copy of the tool from a
// folder of their own under TMPDIR (/tmp when unset), which goes once this test program
// has ended.
class ReachableCopy {
public:
    explicit ReachableCopy(const std::string& tool) : path_(tool)
    {
        if (geteuid() != 0 || everyoneMayRun(tool)) {
            return;
        }
        const char* temporary = std::getenv("TMPDIR");
        std::string folder = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                             "/velmoran-tool-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr || chmod(folder.c_str(), 0755) != 0) {
            ADD_FAILURE() << "no folder for a copy of " << tool << " under " << folder << ": " << std::strerror(errno);
            return;
        }
        folder_ = folder;
        removeOnceEnded(folder_);
        struct statvfs where {};
        if (statvfs(folder_.c_str(), &where) == 0 && (where.f_flag & ST_NOEXEC) != 0) {
            ADD_FAILURE() << folder_ << " is on a file system mounted noexec: set TMPDIR to a folder where "
                          << "programs may run";
            return;
        }
        std::error_code error;
        const std::string copy = folder_ + "/" + std::filesystem::path(tool).filename().string();
        if (!std::filesystem::copy_file(tool, copy, error) || chmod(copy.c_str(), 0755) != 0) {
            ADD_FAILURE() << "cannot copy " << tool << " to " << copy << ": " << error.message();
            return;
        }
        path_ = copy;
    }
    ~ReachableCopy()
    {
        std::error_code ignored;
        if (!folder_.empty()) {
            std::filesystem::remove_all(folder_, ignored);
        }
    }
    ReachableCopy(const ReachableCopy&) = delete;
    ReachableCopy& operator=(const ReachableCopy&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string folder_;
};

struct PosixTarget {
    std::string tool;
    std::string emulator;
    double replySlackInsideMs = 0;
    double replySlackOutsideMs = 0;
};
PosixTarget posixTarget;

// The command that starts the tool (an emulator first, where there is one), with the
// tool's own words after it.
std::vector<std::string> toolCommand(const std::vector<std::string>& words)
{
    static const ReachableCopy tool(posixTarget.tool);
    std::vector<std::string> command;
    if (!posixTarget.emulator.empty()) {
        command.push_back(posixTarget.emulator);
    }
    command.push_back(tool.path());
    command.insert(command.end(), words.begin(), words.end());
    return command;
}

}  // namespace

const EndToEndTarget& endToEndTarget()
{
    static const EndToEndTarget target = {
        {toolCommand({}), FreshPortFlavour::Linux, false, 2000},
        CRTSCTS | HUPCL | CLOCAL,
        CRTSCTS | HUPCL,
        posixTarget.replySlackInsideMs,
        posixTarget.replySlackOutsideMs,
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

StandInTerminal openTargetPort(std::string& portWord)
{
    StandInTerminal port;
    std::string error;
    EXPECT_TRUE(openStandInTerminal(port, error)) << error;
    portWord = port.terminalPath;
    return port;
}

// Runs as an ordinary user with access to the port: root passes the exclusive flag,
// and an ordinary user is what a flag left behind would lock out.
ProcessOptions ordinaryUserOptions(const StandInTerminal& port)
{
    ProcessOptions options;
    if (geteuid() == 0) {
        constexpr int kNobody = 65534;
        EXPECT_EQ(chown(port.terminalPath.c_str(), kNobody, kNobody), 0);
        options.runAsUid = kNobody;
    }
    return options;
}

namespace {

const ToolCommand& targetTool()
{
    return endToEndTarget().tool;
}

StandInTerminal openPort()
{
    std::string portWord;
    return openTargetPort(portWord);
}

TEST(PortSafety, RegularFileUnderDevIsNeverWritten)
{
    char path[] = "/dev/shm/velmoran-port-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0) << "no /dev/shm to make a file in";
    const std::string contents = "contents that must stay\n";
    ASSERT_EQ(write(file, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    close(file);

    const ProcessResult result = runProcess(toolCommand({path, "0x1FFFFFF0", "0x01", "0x02"}));
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

// Each run must take the exclusive flag off the line as it lets go, whichever way it
// ended, while the line stays open elsewhere (here, the stand-in's own descriptor):
// left on, it turns the next ordinary user's run into exit 3.
TEST(PortSafety, OrdinaryUserRunsAgainAfterEveryOutcome)
{
    StandInTerminal port = openPort();
    const ProcessOptions options = ordinaryUserOptions(port);
    for (const char* name : {"TypicalRun", "BadIdWithPortOpen", "TypicalRun", "DataByte100", "SilentDevice",
                             "BadDataWord", "TypicalRun"}) {
        const EndToEndCase& row = rowNamed(name);
        EndToEndRun run = runOf(row);
        run.options = options;
        const EndToEndOutcome outcome = runAgainstStandIn(targetTool(), port, port.terminalPath, run);
        EXPECT_EQ(outcome.process.exitCode, row.expectedExit) << name << ": " << outcome.process.out;
    }
    closeStandInTerminal(port);
}

// While a run holds the line (here held in its write, on a line that takes nothing
// more), no ordinary program may open it, and a second run is refused.
TEST(PortSafety, ExclusiveWhileRunning)
{
    StandInTerminal port = openPort();
    fillOutgoingLine(port);
    const ProcessOptions options = ordinaryUserOptions(port);
    EndToEndRun held = runOf(rowNamed("SilentDevice"));
    held.expectFrame = false;
    EndToEndOutcome heldOutcome;
    std::thread heldRun([&] { heldOutcome = runAgainstStandIn(targetTool(), port, port.terminalPath, held); });

    // Looking takes the lock for a moment, which would turn the run away if it came
    // just then: first give it time to start, then look now and again.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (lineReleased(port) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(lineReleased(port)) << "the run never took the line";

    // A program that takes no lock, as a terminal program: the shell's plain open().
    std::vector<std::string> plainOpen = {"/bin/sh", "-c", ": <>\"$0\"", port.terminalPath};
    const ProcessResult opener = runProcess(plainOpen, options);
    EXPECT_NE(opener.exitCode, 0) << "an ordinary program opened the line mid-run";
    EXPECT_NE(opener.err.find(std::strerror(EBUSY)), std::string::npos) << opener.err;

    const EndToEndCase& refused = rowNamed("LockedByAnotherProgram");
    std::vector<std::string> secondRun = toolCommand({});
    for (const std::string& word : refused.words) {
        secondRun.push_back(withPortWord(word, port.terminalPath));
    }
    const ProcessResult second = runProcess(secondRun, options);
    EXPECT_EQ(second.out, withPortWord(refused.expectedOut, port.terminalPath));
    EXPECT_EQ(second.exitCode, 3);

    heldRun.join();
    EXPECT_EQ(heldOutcome.process.exitCode, 7);
    closeStandInTerminal(port);
}

struct StopCase {
    const char* name;
    int signal;
    bool blockedByCaller;  // then the run ends as if unstopped, and the signal stays pending
};

void PrintTo(const StopCase& c, std::ostream* os)
{
    *os << c.name;
}

class StoppedRun : public ::testing::TestWithParam<StopCase> {};

// Whether the program started as `pid` has the file open, seen from outside: asking the
// line itself (its lock) could turn the run away at the moment it opens. Until it has
// started, the child is still this program, holding the line that this one holds.
bool holdsOpen(int pid, const std::string& path)
{
    const std::string process = "/proc/" + std::to_string(pid);
    std::error_code error;
    if (std::filesystem::read_symlink(process + "/exe", error) == std::filesystem::read_symlink("/proc/self/exe", error)) {
        return false;
    }
    std::filesystem::directory_iterator entry(process + "/fd", error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        if (std::filesystem::read_symlink(entry->path(), error) == path) {
            return true;
        }
        error.clear();
    }
    return false;
}

// Stopped mid-run (once it has the port open; then it is held in its write on a line that
// takes nothing more) by Ctrl-C, kill, a closed terminal window, Ctrl-\ or any other signal
// that would end it, a run puts the port back before it ends as the stop asks, and what it
// printed comes out. A signal its caller had blocked stays blocked.
TEST_P(StoppedRun, PutsThePortBackFirst)
{
    const StopCase& c = GetParam();
    StandInTerminal port = openPort();
    fillOutgoingLine(port);
    const EndToEndCase& row = rowNamed("SilentDevice");
    EndToEndRun stopped = runOf(row);
    stopped.expectFrame = false;
    stopped.options = ordinaryUserOptions(port);
    stopped.options.stopSignal = c.signal;
    stopped.options.stopWhen = [&port](int pid) { return holdsOpen(pid, port.terminalPath); };
    stopped.options.blockedSignal = c.blockedByCaller ? c.signal : 0;
    const EndToEndOutcome outcome = runAgainstStandIn(targetTool(), port, port.terminalPath, stopped);
    EXPECT_EQ(outcome.process.signal, c.blockedByCaller ? 0 : c.signal);
    EXPECT_EQ(outcome.process.exitCode, c.blockedByCaller ? row.expectedExit : -1);
    // The write time-out for 9 bytes is 650 ms and the read window 11 ms.
    EXPECT_LT(outcome.process.elapsedMs, targetTool().runLimitMs);
    EXPECT_EQ(outcome.process.out, withPortWord(row.expectedOut, port.terminalPath));
    ExchangeRecord junk;
    collectLateBytes(port, junk);
    expectPortLetGo(port, port.terminalPath);
    closeStandInTerminal(port);
}

INSTANTIATE_TEST_SUITE_P(PortSafety, StoppedRun,
                         ::testing::Values(StopCase {"Interrupt", SIGINT, false}, StopCase {"Terminate", SIGTERM, false},
                                           StopCase {"HangUp", SIGHUP, false}, StopCase {"Quit", SIGQUIT, false},
                                           StopCase {"User1", SIGUSR1, false}, StopCase {"User2", SIGUSR2, false},
                                           StopCase {"Alarm", SIGALRM, false}, StopCase {"VirtualAlarm", SIGVTALRM, false},
                                           StopCase {"Profiling", SIGPROF, false}, StopCase {"CpuLimit", SIGXCPU, false},
                                           StopCase {"FileSizeLimit", SIGXFSZ, false}, StopCase {"Io", SIGIO, false},
                                           StopCase {"StackFault", SIGSTKFLT, false}, StopCase {"Power", SIGPWR, false},
                                           StopCase {"RealTimeFirst", SIGRTMIN, false},
                                           StopCase {"RealTimeLast", SIGRTMAX, false},
                                           StopCase {"InterruptBlockedByCaller", SIGINT, true}),
                         [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// The terminal the tool is started from is no port, by whatever name, whether it is the
// controlling terminal or only standard input and output (a run started with setsid, a
// service writing to a serial console): nothing but the tool's messages goes into it
// and its settings stay as they were.
TEST(PortSafety, OwnTerminalIsRefusedAndLeftAlone)
{
    StandInTerminal port = openPort();
    struct {
        std::string word;
        bool controls;
    } const starts[] = {{"/dev/tty", true}, {port.terminalPath, true}, {port.terminalPath, false}};
    for (const auto& start : starts) {
        ProcessOptions fromTerminal;
        fromTerminal.terminal = port.terminalPath;
        fromTerminal.terminalControls = start.controls;
        const std::string word = start.word;
        const termios before = currentTerminalSettings(port);
        const ProcessResult run = runProcess(toolCommand({word, "0x1FFFFFF0", "0x01"}), fromTerminal);
        const std::string refused =
            "Program to select CAN ID for download, Version 1.00\nError opening serial port " + word + "\n";
        EXPECT_EQ(run.exitCode, 3) << word;
        EXPECT_TRUE(sameLineSettings(before, currentTerminalSettings(port))) << word;
        ExchangeRecord sent;
        collectLateBytes(port, sent);
        const std::string intoTerminal = withUnixLineEnds(std::string(sent.received.begin(), sent.received.end()));
        EXPECT_EQ(start.controls ? run.out : intoTerminal, refused) << word;
        EXPECT_EQ(start.controls ? intoTerminal : run.out, "") << word;
    }
    closeStandInTerminal(port);
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
    StandInTerminal port = openPort();
    EndToEndRun run = runOf(row);
    run.options = ordinaryUserOptions(port);
    run.options.stdoutMode = c.stdoutMode;
    const EndToEndOutcome outcome = runAgainstStandIn(targetTool(), port, port.terminalPath, run);
    EXPECT_EQ(outcome.process.signal, 0);
    EXPECT_EQ(outcome.process.exitCode, row.expectedExit);
    // Nothing meant for the console may go out on the line.
    EXPECT_EQ(outcome.record.received, row.expectedReceived);
    expectPortLetGo(port, port.terminalPath);
    closeStandInTerminal(port);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OutputGoesAway,
    ::testing::Values(OutputFaultCase {"ClosedStdoutAcknowledged", StdoutMode::Closed, "TypicalRun"},
                      OutputFaultCase {"ClosedStdoutSilent", StdoutMode::Closed, "SilentDevice"},
                      OutputFaultCase {"ReaderLeavesAcknowledged", StdoutMode::FirstLineOnly, "TypicalRun"},
                      OutputFaultCase {"ReaderLeavesSilent", StdoutMode::FirstLineOnly, "SilentDevice"}),
    [](const ::testing::TestParamInfo<OutputFaultCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// True when `word` is `--name=...`; the rest goes to `value`.
bool readOption(const std::string& word, const char* name, std::string& value)
{
    const std::string prefix = std::string("--") + name + "=";
    if (word.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    value = word.substr(prefix.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::string insideMs = "0";
    std::string outsideMs = "0";
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (!readOption(word, "tool", posixTarget.tool) && !readOption(word, "emulator", posixTarget.emulator) &&
            !readOption(word, "reply-slack-inside-ms", insideMs) &&
            !readOption(word, "reply-slack-outside-ms", outsideMs)) {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    posixTarget.replySlackInsideMs = std::stod(insideMs);
    posixTarget.replySlackOutsideMs = std::stod(outsideMs);
    if (posixTarget.tool.empty() && !::testing::GTEST_FLAG(list_tests)) {
        std::fprintf(stderr, "no --tool=PATH: CTest names the tool these cases run\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
