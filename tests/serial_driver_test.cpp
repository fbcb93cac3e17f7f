// The serial link over a pseudo-terminal, with a driver of the test's own in place of a
// real port's, for what a pseudo-terminal cannot show: a USB bridge's low-latency flag,
// its latency timer, the line errors it counts, and an output queue that empties only as
// the device takes the bytes.

#include "standin_exchange.hpp"
#include "serial_driver_ioctl.hpp"
#include "serial_link.hpp"
#include "standin_pty.hpp"

#include "run_sequence.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <thread>

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace {

// Keeps one record of serial settings, as a serial driver does, and an output queue that
// the test fills and empties (a pseudo-terminal's own queue is always reported empty).
struct DriverStandIn {
    bool hasSettings = true;
    int refuseChangesWith = 0;
    serial_struct settings {};
    int changeRequests = 0;
    std::atomic<int> queuedForLine {0};
    int outputDrops = 0;
    const char* latencyTimer = nullptr;  // the sysfs attribute's text; none when null
    int attributeReads = 0;
    // Line error counters: the first read gives `countsBefore`, later ones `countsAfter`.
    bool countsErrors = false;
    serial_icounter_struct countsBefore {};
    serial_icounter_struct countsAfter {};
    int counterReads = 0;
};

DriverStandIn driver;

int driverStandInIoctl(int, unsigned long request, void* argument)
{
    if (request == TIOCOUTQ) {
        *static_cast<int*>(argument) = driver.queuedForLine;
        return 0;
    }
    if (request == TCFLSH) {
        ++driver.outputDrops;
        driver.queuedForLine = 0;
        return 0;
    }
    if (request == TIOCGICOUNT) {
        if (!driver.countsErrors) {
            errno = EINVAL;
            return -1;
        }
        *static_cast<serial_icounter_struct*>(argument) =
            driver.counterReads++ == 0 ? driver.countsBefore : driver.countsAfter;
        return 0;
    }
    serial_struct* settings = static_cast<serial_struct*>(argument);
    if (!driver.hasSettings) {
        errno = ENOTTY;
        return -1;
    }
    if (request == TIOCGSERIAL) {
        *settings = driver.settings;
        return 0;
    }
    if (request == TIOCSSERIAL) {
        ++driver.changeRequests;
        if (driver.refuseChangesWith != 0) {
            errno = driver.refuseChangesWith;
            return -1;
        }
        driver.settings = *settings;
        return 0;
    }
    errno = EINVAL;
    return -1;
}

int driverStandInAttribute(int, const char* name, char* text, std::size_t size)
{
    ++driver.attributeReads;
    if (driver.latencyTimer == nullptr || std::strcmp(name, "latency_timer") != 0) {
        return -1;
    }
    const std::size_t length = std::min(size, std::strlen(driver.latencyTimer));
    std::memcpy(text, driver.latencyTimer, length);
    return static_cast<int>(length);
}

struct LatencyCase {
    const char* name;
    bool hasSettings;
    bool lowLatencyBefore;
    int refuseChangesWith;
    bool lowLatencyDuringRun;
    int changeRequests;  // over the whole run
};

void PrintTo(const LatencyCase& c, std::ostream* os)
{
    *os << c.name;
}

class WithDriverStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.hasSettings = true;
        driver.refuseChangesWith = 0;
        driver.settings = serial_struct {};
        driver.changeRequests = 0;
        driver.queuedForLine = 0;
        driver.outputDrops = 0;
        driver.latencyTimer = nullptr;
        driver.attributeReads = 0;
        driver.countsErrors = false;
        driver.countsBefore = serial_icounter_struct {};
        driver.countsAfter = serial_icounter_struct {};
        driver.counterReads = 0;
        serialDriverIoctl = driverStandInIoctl;
        serialDriverAttribute = driverStandInAttribute;
    }
    void TearDown() override
    {
        serialDriverIoctl = realDriver_;
        serialDriverAttribute = realAttribute_;
    }

private:
    SerialDriverIoctl realDriver_ = serialDriverIoctl;
    SerialDriverAttribute realAttribute_ = serialDriverAttribute;
};

class LowLatency : public WithDriverStandIn, public ::testing::WithParamInterface<LatencyCase> {};

void expectOtherSettingsKept(const serial_struct& seen, const serial_struct& before)
{
    EXPECT_EQ(seen.flags & ~ASYNC_LOW_LATENCY, before.flags & ~ASYNC_LOW_LATENCY);
    EXPECT_EQ(seen.close_delay, before.close_delay);
    EXPECT_EQ(seen.closing_wait, before.closing_wait);
    EXPECT_EQ(seen.baud_base, before.baud_base);
    EXPECT_EQ(seen.custom_divisor, before.custom_divisor);
    EXPECT_EQ(seen.type, before.type);
}

TEST_P(LowLatency, IsSetForTheRunAndPutBack)
{
    const LatencyCase& c = GetParam();
    driver.hasSettings = c.hasSettings;
    driver.refuseChangesWith = c.refuseChangesWith;
    driver.settings.type = PORT_16550A;
    driver.settings.baud_base = 115200;
    driver.settings.custom_divisor = 3;
    driver.settings.close_delay = 50;
    driver.settings.closing_wait = 3000;
    driver.settings.flags = ASYNC_SKIP_TEST | (c.lowLatencyBefore ? ASYNC_LOW_LATENCY : 0);
    const serial_struct before = driver.settings;

    StandInTerminal port;
    std::string error;
    ASSERT_TRUE(openStandInTerminal(port, error)) << error;
    SerialLink link;
    ASSERT_TRUE(link.openDevicePath(port.terminalPath.c_str()));
    link.configure();
    EXPECT_EQ((driver.settings.flags & ASYNC_LOW_LATENCY) != 0, c.lowLatencyDuringRun);
    expectOtherSettingsKept(driver.settings, before);
    link.clearReceived();
    link.close();
    closeStandInTerminal(port);

    EXPECT_EQ(driver.settings.flags & ASYNC_LOW_LATENCY, before.flags & ASYNC_LOW_LATENCY);
    expectOtherSettingsKept(driver.settings, before);
    EXPECT_EQ(driver.changeRequests, c.changeRequests);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, LowLatency,
    ::testing::Values(LatencyCase {"ClearIsSetThenCleared", true, false, 0, true, 2},
                      LatencyCase {"AlreadySetIsLeftAlone", true, true, 0, true, 0},
                      LatencyCase {"NoSuchSetting", false, false, 0, false, 0},
                      LatencyCase {"ChangeRefused", true, false, EPERM, false, 1}),
    [](const ::testing::TestParamInfo<LatencyCase>& info) { return std::string(info.param.name); });

// A whole run whose USB bridge's driver did not take the low-latency request: what the
// driver shows (its timer, read while the port is held; its line error counts, before the
// frame and after the listening) and a reply that came late decide what a missed reply
// gets on standard error. Standard output and the exit status are those of any run.
struct MissedReplyCase {
    const char* name;
    const char* latencyTimer;
    int replyDelayMs;  // none when negative
    bool countsErrors;
    serial_icounter_struct before;
    serial_icounter_struct after;
    std::string err;  // a pattern; PORT is the port's path
};

void PrintTo(const MissedReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

class MissedReply : public WithDriverStandIn, public ::testing::WithParamInterface<MissedReplyCase> {};

serial_icounter_struct lineCounts(int brk, int frame, int parity, int overrun, int bufferOverrun)
{
    serial_icounter_struct counts {};
    counts.rx = 9000;
    counts.brk = brk;
    counts.frame = frame;
    counts.parity = parity;
    counts.overrun = overrun;
    counts.buf_overrun = bufferOverrun;
    return counts;
}

std::string withPort(std::string pattern, const std::string& path)
{
    for (std::size_t at = pattern.find("PORT"); at != std::string::npos; at = pattern.find("PORT", at + path.size())) {
        pattern.replace(at, 4, path);
    }
    return pattern;
}

TEST_P(MissedReply, IsExplainedByWhatTheDriverSaw)
{
    const MissedReplyCase& c = GetParam();
    driver.refuseChangesWith = EPERM;
    driver.latencyTimer = c.latencyTimer;
    driver.countsErrors = c.countsErrors;
    driver.countsBefore = c.before;
    driver.countsAfter = c.after;

    StandInTerminal port;
    std::string error;
    ASSERT_TRUE(openStandInTerminal(port, error)) << error;
    const std::string path = port.terminalPath;
    ExchangeRecord record;
    std::thread device;
    const bool answers = c.replyDelayMs >= 0;
    if (answers) {
        device = std::thread([&] {
            requestPromptScheduling();
            StandInBehaviour behaviour;
            behaviour.device.replyDelayMs = c.replyDelayMs;
            serveExchange(port, behaviour, record, 5000);
        });
    }
    const char* const words[] = {"velmoran", path.c_str(), "0x1FFFFFF0", "0x01", "0x02"};
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const ExitStatus status = runSequence(5, words);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (device.joinable()) {
        device.join();
    }
    closeStandInTerminal(port);

    const bool acknowledged = c.replyDelayMs == 0;
    const std::string shown = "Program to select CAN ID for download, Version 1.00\nOpened serial port " + path +
                              " successfully\nSent ID: 0x1FFFFFF0 Data: 0x01 0x02 \n";
    EXPECT_EQ(out, shown + (acknowledged ? "Received: 0x06 \n" : "No acknowledgment received\n"));
    EXPECT_EQ(status, acknowledged ? ExitStatus::Ok : ExitStatus::NoAcknowledgment);
    EXPECT_TRUE(std::regex_match(err, std::regex(withPort(c.err, path)))) << err;
    if (acknowledged) {
        EXPECT_EQ(driver.attributeReads, 0) << "an acknowledged run looked the timer up";
        EXPECT_LE(driver.counterReads, 1) << "an acknowledged run read the error counts after the frame";
    }
}

const std::string kNothingLine = "velmoran: nothing came back on PORT, a pseudo-terminal, in the 61 ms after the "
                                 "frame went out: is this the CAN interface's port, and is the adapter powered and "
                                 "on the bus\\?\n";

std::string timerLine(const std::string& milliseconds)
{
    return "velmoran: PORT is an FTDI USB serial port whose latency timer is " + milliseconds +
           " ms, too long for the 11 ms reply window: a reply can arrive too late\\. Set it to 1 ms \\(see the "
           "README, Troubleshooting\\)\\.\n";
}

// A reply sent 30 ms after the frame: its time as measured, a little later.
std::string lateLine(const std::string& cause)
{
    return "velmoran: a reply came late on PORT: 0x06, (29|[3-5][0-9])\\.[0-9] ms after the frame went out, "
           "[0-9]+\\.[0-9] ms past the 11 ms window; it was not taken\\. A device on this port answers; what holds "
           "a reply up is " + cause + ", or an adapter that answers only after its CAN frame went out\\.\n";
}

const serial_icounter_struct kNoCounts {};

INSTANTIATE_TEST_SUITE_P(
    Drivers, MissedReply,
    ::testing::Values(
        MissedReplyCase {"FtdiDefault", "16\n", -1, false, kNoCounts, kNoCounts,
                         timerLine("16") + kNothingLine},
        MissedReplyCase {"ShortestTooLong", "9\n", -1, false, kNoCounts, kNoCounts,
                         timerLine("9") + kNothingLine},
        MissedReplyCase {"LongestTheWindowAbsorbs", "8\n", -1, false, kNoCounts, kNoCounts, kNothingLine},
        MissedReplyCase {"LowLatency", "1\n", -1, false, kNoCounts, kNoCounts, kNothingLine},
        MissedReplyCase {"NoTimer", nullptr, -1, false, kNoCounts, kNoCounts, kNothingLine},
        MissedReplyCase {"NotATimer", "16 ms\n", -1, false, kNoCounts, kNoCounts, kNothingLine},
        MissedReplyCase {"BeyondTheChip", "256\n", -1, false, kNoCounts, kNoCounts, kNothingLine},
        MissedReplyCase {"Acknowledged", "16\n", 0, true, kNoCounts, kNoCounts, ""},
        // Late: taken for no acknowledgment, said with its byte and time; the timer is named
        // as what holds a reply up where it is too long.
        MissedReplyCase {"LateReply", nullptr, 30, false, kNoCounts, kNoCounts,
                         lateLine("a USB serial bridge that keeps bytes before passing them on")},
        MissedReplyCase {"LateReplyBehindTheTimer", "16\n", 30, false, kNoCounts, kNoCounts,
                         timerLine("16") + lateLine("the FTDI latency timer above")},
        // Counted errors are what this run added, across the counters' wrap; where there are
        // any, the port is not looked up.
        MissedReplyCase {"CountedNone", nullptr, -1, true, lineCounts(4, 5, 6, 7, 8), lineCounts(4, 5, 6, 7, 8),
                         kNothingLine},
        MissedReplyCase {"LineHeldLow", nullptr, -1, true, lineCounts(-1, 5, 6, 7, 8), lineCounts(1, 5, 6, 7, 8),
                         "velmoran: the line into PORT was held low during the run \\(2 breaks\\): is the adapter "
                         "powered, and is its transmit line wired to this port's receive line\\?\n"},
        MissedReplyCase {"NotAt115200", nullptr, -1, true, lineCounts(0, 0, 0, 0, 0), lineCounts(0, 3, 1, 0, 0),
                         "velmoran: PORT received bytes that were not 115200 baud 8N1 \\(3 framing errors, a parity "
                         "error\\): is the adapter set to another speed, or is the cable noisy\\?\n"},
        MissedReplyCase {"BytesLost", "16\n", -1, true, lineCounts(0, 0, 0, 0, 0), lineCounts(0, 0, 0, 1, 1),
                         timerLine("16") + "velmoran: PORT lost received bytes before velmoran could read them \\(2 overruns\\): "
                                           "the PC did not keep up; close what loads it, and try again\\.\n"}),
    [](const ::testing::TestParamInfo<MissedReplyCase>& info) { return std::string(info.param.name); });

using SlowLine = WithDriverStandIn;

// The device takes the frame off the line well after the window would have closed had it
// started when write() returned, and answers at once: the answer must be taken.
TEST_F(SlowLine, WindowStartsOnceTheFrameHasLeft)
{
    StandInTerminal port;
    std::string error;
    ASSERT_TRUE(openStandInTerminal(port, error)) << error;
    driver.hasSettings = false;
    SerialLink link;
    ASSERT_TRUE(link.openDevicePath(port.terminalPath.c_str()));
    link.configure();
    link.clearReceived();

    StandInBehaviour slowLine;
    slowLine.takeFrameAfterMs = 40;
    ExchangeRecord record;
    bool served = false;
    SendRequest request;
    request.arbitrationId = 0x1FFFFFF0;
    const RequestFrame frame = encodeRequestFrame(request);
    // The frame stays queued until the device has taken it (and, here, answered).
    driver.queuedForLine = static_cast<int>(frame.length);
    std::thread device([&] {
        requestPromptScheduling();
        served = serveExchange(port, slowLine, record, 5000);
        driver.queuedForLine = 0;
    });
    link.send(frame);
    const Acknowledgment acknowledgment = link.awaitAcknowledgment();
    device.join();
    link.close();
    closeStandInTerminal(port);

    ASSERT_TRUE(served);
    EXPECT_EQ(record.frame.status, FrameDecodeStatus::Ok);
    EXPECT_TRUE(acknowledgment.received);
    EXPECT_EQ(acknowledgment.value, slowLine.device.replyByte);
}

// A peer that never takes the bytes: putting the port back waits as long as they need at
// 115200 baud and a 100 ms margin, drops them, and still puts the settings back.
TEST_F(SlowLine, GiveBackDoesNotWaitForAPeerThatNeverTakes)
{
    StandInTerminal terminal;
    std::string error;
    ASSERT_TRUE(openStandInTerminal(terminal, error)) << error;
    driver.hasSettings = false;
    SerialPort port;
    ASSERT_EQ(takeSerialPort(port, terminal.terminalPath.c_str()), PortRefusal::None);
    ASSERT_TRUE(keepLineSettings(port));
    const termios before = currentTerminalSettings(terminal);
    ASSERT_TRUE(setLine(port, FlowControl::Off));
    driver.queuedForLine = 1000;  // 87 ms of bytes at 115200 baud, and never less
    const auto start = std::chrono::steady_clock::now();
    giveBackSerialPort(port);
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const termios after = currentTerminalSettings(terminal);
    closeStandInTerminal(terminal);

    EXPECT_GE(tookMs, 187);
    EXPECT_LT(tookMs, 2000);
    EXPECT_EQ(driver.outputDrops, 1);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

}  // namespace
