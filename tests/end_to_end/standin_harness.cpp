#include "standin_harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr int kDeviceWaitMs = 15000;

std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char cell[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", static_cast<unsigned>(byte));
        text += cell;
    }
    return text;
}

}  // namespace

const EndToEndCase& rowNamed(const char* name)
{
    for (const EndToEndCase& row : endToEndCases()) {
        if (std::strcmp(row.name, name) == 0) {
            return row;
        }
    }
    ADD_FAILURE() << "no row " << name;
    return endToEndCases().front();
}

void expectRaw115200With8N1(const termios& seen, const LineSpeed& speed)
{
    EXPECT_EQ(speed.input, 115200u);
    EXPECT_EQ(speed.output, 115200u);
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(seen.c_cflag & CREAD, 0u);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(seen.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | IXON | IXOFF | IXANY | BRKINT), 0u);
    // A BREAK is dropped, not taken for a 0x00 reply.
    EXPECT_NE(seen.c_iflag & IGNBRK, 0u);
    EXPECT_EQ(seen.c_oflag & OPOST, 0u);
}

ToolCommand tracingLineRequests(const ToolCommand& tool, const std::string& log)
{
    // LeakSanitizer cannot work under a tracer; the sanitizers' other checks can.
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    const std::string withoutLeakCheck =
        std::string("ASAN_OPTIONS=") + (sanitizerOptions != nullptr ? sanitizerOptions : "") + ":detect_leaks=0";
    ToolCommand traced = tool;
    traced.prefix = {VELMORAN_STRACE, "-f", "-qq", "--seccomp-bpf", "-y", "-v", "-e", "trace=ioctl",
                     "-e", "signal=none", "-E", withoutLeakCheck, "-o", log, "--"};
    traced.prefix.insert(traced.prefix.end(), tool.prefix.begin(), tool.prefix.end());
    return traced;
}

void expectOnly8N1Requested(const std::string& log, const std::string& terminalPath)
{
    std::ifstream lines(log);
    ASSERT_TRUE(lines.good()) << "no trace at " << log;
    const std::string onTerminal = "<" + terminalPath + ">, ";
    int requests = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t flagsAt = line.find("c_cflag=");
        if (line.find(onTerminal) == std::string::npos || line.find("TCSETS") == std::string::npos ||
            flagsAt == std::string::npos) {
            continue;
        }
        ++requests;
        // The flags as strace names them: B115200|CS8|CREAD|...
        const std::string flags = "|" + line.substr(flagsAt + 8, line.find(',', flagsAt) - flagsAt - 8) + "|";
        EXPECT_NE(flags.find("|CS8|"), std::string::npos) << line;
        EXPECT_EQ(flags.find("|PARENB|"), std::string::npos) << line;
        EXPECT_EQ(flags.find("|CSTOPB|"), std::string::npos) << line;
    }
    EXPECT_GT(requests, 0) << "no line setting was requested for " << terminalPath;
}

bool sameLineSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b) &&
           std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

EndToEndRun runOf(const EndToEndCase& row)
{
    EndToEndRun run;
    run.words = row.words;
    run.behaviour = row.behaviour;
    run.setup = row.setup;
    run.expectFrame = row.expectFrame;
    return run;
}

EndToEndOutcome runAgainstStandIn(const ToolCommand& tool, StandInTerminal& port, const std::string& portWord,
                                  const EndToEndRun& run)
{
    EndToEndOutcome outcome;
    int lockHolder = -1;
    if (run.setup == LineSetup::StaleByte) {
        const std::uint8_t stale = 0x55;
        EXPECT_EQ(write(static_cast<int>(port.device.handle), &stale, 1), 1);
        // Give the byte time to pass into the terminal side's receive buffer.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    } else if (run.setup == LineSetup::LockedByOther) {
        lockHolder = open(port.terminalPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(lockHolder, 0);
        EXPECT_EQ(flock(lockHolder, LOCK_EX | LOCK_NB), 0);
    }

    outcome.settingsBefore = currentTerminalSettings(port);
    // The tool starts once the device runs at its priority: on a busy machine a new thread
    // can wait longer than the whole window for its first turn.
    std::promise<void> ready;
    std::thread device;
    if (run.expectFrame) {
        device = std::thread([&] {
            requestPromptScheduling();
            ready.set_value();
            outcome.served = serveExchange(port, run.behaviour, outcome.record, kDeviceWaitMs, &outcome.lineAtFrame);
        });
        ready.get_future().wait();
    }

    std::vector<std::string> argv = tool.prefix;
    for (const std::string& word : run.words) {
        argv.push_back(withPortWord(word, portWord));
    }
    outcome.process = runProcess(argv, run.options);

    if (device.joinable()) {
        device.join();
    }
    outcome.settingsAfter = currentTerminalSettings(port);
    collectLateBytes(port, outcome.record);
    if (lockHolder >= 0) {
        close(lockHolder);
    }
    return outcome;
}

std::string printedText(const EndToEndOutcome& outcome, const ToolCommand& tool)
{
    return tool.windowsConsole ? withUnixLineEnds(outcome.process.out) : outcome.process.out;
}

void expectCaseHolds(const EndToEndCase& row, const EndToEndOutcome& outcome, const std::string& portWord,
                     const ToolCommand& tool)
{
    ASSERT_TRUE(outcome.process.started);
    ASSERT_FALSE(outcome.process.timedOut);
    EXPECT_LT(outcome.process.elapsedMs, tool.runLimitMs) << "the run waited for something that never came";
    EXPECT_EQ(printedText(outcome, tool), withPortWord(row.expectedOut, portWord));
    EXPECT_EQ(outcome.process.exitCode, row.expectedExit) << "standard error: " << outcome.process.err;
    if (!tool.windowsConsole) {
        // Why a run failed, said after it: by whom a port is held (this harness holds its
        // lock), what came back after a missed reply.
        EXPECT_TRUE(std::regex_match(outcome.process.err, std::regex(withPortWord(row.expectedErr, portWord))))
            << outcome.process.err;
    }
    EXPECT_EQ(outcome.served, row.expectFrame);
    EXPECT_EQ(hexBytes(outcome.record.received), hexBytes(row.expectedReceived));
    if (row.expectFrame) {
        EXPECT_EQ(outcome.record.frame.status, FrameDecodeStatus::Ok);
    } else {
        // Nothing is sent, and the port's settings (speed, raw mode, ...) are left alone.
        EXPECT_TRUE(sameLineSettings(outcome.settingsBefore, outcome.settingsAfter)) << "the run changed the line's settings";
    }
}

// The kernel moves bytes along behind the writer, so fill again after a pause until
// nothing more goes in.
void fillOutgoingLine(const StandInTerminal& port)
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

void PrintTo(const EndToEndCase& row, std::ostream* os)
{
    *os << row.name;
}
