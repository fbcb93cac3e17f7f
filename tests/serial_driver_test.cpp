// The serial link over a pseudo-terminal, with a driver of the test's own in place of a
// real port's, for what a pseudo-terminal cannot show: a USB bridge's low-latency flag
// and an output queue that empties only as the device takes the bytes.

#include "standin_exchange.hpp"
#include "serial_driver_ioctl.hpp"
#include "serial_link.hpp"
#include "standin_pty.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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
};

DriverStandIn driver;

int driverStandInIoctl(int, unsigned long request, void* argument)
{
    if (request == TIOCOUTQ) {
        *static_cast<int*>(argument) = driver.queuedForLine;
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
        serialDriverIoctl = driverStandInIoctl;
    }
    void TearDown() override { serialDriverIoctl = realDriver_; }

private:
    SerialDriverIoctl realDriver_ = serialDriverIoctl;
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

    StandInPort port;
    std::string error;
    ASSERT_TRUE(openStandInPort(port, error)) << error;
    SerialLink link;
    ASSERT_TRUE(link.openDevicePath(port.terminalPath.c_str()));
    link.configure();
    EXPECT_EQ((driver.settings.flags & ASYNC_LOW_LATENCY) != 0, c.lowLatencyDuringRun);
    expectOtherSettingsKept(driver.settings, before);
    link.clearReceived();
    link.close();
    closePseudoTerminal(port);

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

using SlowLine = WithDriverStandIn;

// The device takes the frame off the line well after the window would have closed had it
// started when write() returned, and answers at once: the answer must be taken.
TEST_F(SlowLine, WindowStartsOnceTheFrameHasLeft)
{
    StandInPort port;
    std::string error;
    ASSERT_TRUE(openStandInPort(port, error)) << error;
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
    closePseudoTerminal(port);

    ASSERT_TRUE(served);
    EXPECT_EQ(record.frame.status, FrameDecodeStatus::Ok);
    EXPECT_TRUE(acknowledgment.received);
    EXPECT_EQ(acknowledgment.value, slowLine.device.replyByte);
}

}  // namespace
