// What velmoran did on Linux's own serial drivers, from one guest boot per architecture
// (guest.sh boot): each case's exit status and output as the guest reported them, the
// frame its port's stand-in device saw, and what qemu's trace says the UART was told
// during that case's run.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Uart { Ft232, Uart16550, Pl011 };

struct Port {
    const char* arch;
    const char* name;
    Uart uart;
};
const Port kPorts[] = {{"amd64", "ttyUSB0", Uart::Ft232}, {"amd64", "ttyS1", Uart::Uart16550},
                       {"arm64", "ttyUSB0", Uart::Ft232}, {"arm64", "ttyS0", Uart::Uart16550},
                       {"arm64", "ttyAMA0", Uart::Pl011}};

struct GuestCase {
    const char* name;
    int exitStatus;
    std::string output;      // "{port}" stands for the port's path
    const char* standInSaw;  // how the stand-in answered the case's frame; none may be sent without one
};
const std::string kBanner = "Program to select CAN ID for download, Version 1.00\n";
const std::string kOpened = kBanner + "Opened serial port {port} successfully\n";
const std::string kSent = kOpened + "Sent ID: 0x1FFFFFF0 Data: 0x01 0x02 \n";
// In the order the guest runs them on each port, whose stand-in leaves the first frame
// unanswered: the bad ID first, while the port has had none but the kernel's settings.
const GuestCase kCases[] = {
    {"bad_id", 4, kOpened + "Second argument not a valid hex number: xyz\n", nullptr},
    {"silent", 7, kSent + "No acknowledgment received\n", "no reply"},
    {"acknowledged", 0, kSent + "Received: 0x06 \n", "replied 0x06 after 0 ms"},
    {"locked", 3, kBanner + "Error opening serial port {port}\n", nullptr},
};

// How a UART's trace lines read: each sets the named settings from its groups. A "byte"
// goes to the UART's data register; "frame" is the FT232's bulk transfer, which only a
// frame makes.
struct TracePattern {
    Uart uart;
    std::regex line;
    std::vector<std::string> keys;
};
const std::vector<TracePattern> kTracePatterns = {
    {Uart::Ft232, std::regex("usb_serial_set_baud .* baud rate (\\d+)"), {"baud"}},
    {Uart::Ft232, std::regex("usb_serial_set_data .* parity (.), data bits (\\d+), stop bits (\\d+)"),
     {"parity", "data", "stop"}},
    {Uart::Ft232, std::regex("usb_serial_set_flow_control .* flow control (\\d+)"), {"flow"}},
    {Uart::Ft232, std::regex("control 0x4009, value (0x[0-9a-f]+)"), {"latency"}},  // vendor request 9
    {Uart::Ft232, std::regex("usb_xhci_xfer_start .* epid (4),"), {"frame"}},        // the bulk OUT pipe
    {Uart::Uart16550, std::regex("serial_update_parameters baudrate=(\\d+) parity='(.)' data=(\\d+) stop=(\\d+)"),
     {"baud", "parity", "data", "stop"}},
    {Uart::Uart16550, std::regex("serial_write write addr 0x00 val 0x([0-9a-f]{2})"), {"byte"}},
    {Uart::Pl011, std::regex("pl011_baudrate_change .*ibrd: (\\d+), fbrd: (\\d+)"), {"ibrd", "fbrd"}},
    // QEMU 7.2 writes the address in eight digits, QEMU 8.1 and later in three and the
    // register's name after the value.
    {Uart::Pl011, std::regex("pl011_write addr 0x0*2c value 0x000000([0-9a-f]{2})"), {"lcr_h"}},
    // The control register's top digit holds CTS and RTS flow control in its two high bits.
    {Uart::Pl011, std::regex("pl011_write addr 0x0*30 value 0x0000([0-9a-f])"), {"flow"}},
    {Uart::Pl011, std::regex("pl011_write addr 0x0+ value 0x000000([0-9a-f]{2})"), {"byte"}},
};
const std::string kFrameBytes = "09 36 26 1f ff ff f0 01 02 ";

using Settings = std::map<std::string, std::string>;
// What each UART must have been told while the frame left: 115200 baud (the FT232 model's
// nearest divisor gives 115384; the PL011's is 13 + 1/64 of its 24 MHz clock), 8 data bits,
// no parity, one stop bit (the PL011's LCR_H 0x70, FIFO on), no flow control, and the
// FT232's latency timer at 1 ms. The first of each is a setting the kernel's defaults lack.
const std::map<Uart, Settings> kDuringExchange = {
    {Uart::Ft232, {{"baud", "115384"}, {"parity", "N"}, {"data", "8"}, {"stop", "1"}, {"flow", "0"}, {"latency", "0x1"}}},
    {Uart::Uart16550, {{"baud", "115200"}, {"parity", "N"}, {"data", "8"}, {"stop", "1"}}},
    {Uart::Pl011, {{"ibrd", "13"}, {"fbrd", "1"}, {"lcr_h", "70"}, {"flow", "0"}}},
};
const std::vector<std::string> kLatencyForTheRun = {"0x1", "0x10"};  // 1 ms, then back to the guest's 16

// One case's stretch of the trace, replayed: the settings when the frame had left, and
// every value each setting took, in order.
struct Replay {
    bool frameLeft = false;
    Settings atFrame;
    std::map<std::string, std::vector<std::string>> history;
};

Replay replay(Uart uart, const std::string& trace)
{
    Replay result;
    Settings now;
    std::string written;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        for (const TracePattern& pattern : kTracePatterns) {
            std::smatch match;
            if (pattern.uart != uart || !std::regex_search(line, match, pattern.line)) {
                continue;
            }
            for (std::size_t i = 0; i < pattern.keys.size(); ++i) {
                now[pattern.keys[i]] = match[i + 1];
                result.history[pattern.keys[i]].push_back(match[i + 1]);
            }
            written += pattern.keys[0] == "byte" ? now["byte"] + " " : "";
            const bool sent = now.count("frame") || (written.size() >= kFrameBytes.size() &&
                                                     written.substr(written.size() - kFrameBytes.size()) == kFrameBytes);
            if (sent && !result.frameLeft) {
                result.frameLeft = true;
                result.atFrame = now;
            }
        }
    }
    return result;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct DriverCase {
    Port port;
    std::size_t index;  // into kCases
};

void PrintTo(const DriverCase& driverCase, std::ostream* out)
{
    *out << driverCase.port.arch << " " << driverCase.port.name << " " << kCases[driverCase.index].name;
}

class GuestRun : public testing::TestWithParam<DriverCase> {};

TEST_P(GuestRun, AsReportedSeenAndTraced)
{
    const Port& port = GetParam().port;
    const GuestCase& expected = kCases[GetParam().index];
    const std::string run = std::string(VELMORAN_GUEST_RUNS) + "/" + port.arch + "/run/";
    const std::string at = run + port.name + "-" + expected.name;

    EXPECT_EQ(readFile(at + ".exit"), std::to_string(expected.exitStatus) + "\n");
    EXPECT_EQ(readFile(at + ".out"), std::regex_replace(expected.output, std::regex("\\{port\\}"),
                                                        std::string("/dev/") + port.name));
    Replay traced = replay(port.uart, readFile(at + ".trace"));
    const Settings& during = kDuringExchange.at(port.uart);
    if (expected.standInSaw == nullptr) {
        EXPECT_FALSE(traced.frameLeft) << "a frame left the UART";
        EXPECT_TRUE(traced.history["latency"].empty()) << "the latency timer was changed";
        // An open re-applies the port's saved settings: only a port that never had the
        // tool's shows that the run set none.
        const std::vector<std::string>& set = traced.history[during.begin()->first];
        EXPECT_FALSE(GetParam().index == 0 && std::count(set.begin(), set.end(), during.begin()->second) != 0)
            << "the line was set up before the words were read";
        return;
    }
    std::istringstream standIn(readFile(run + "sim-" + port.name + ".log"));
    std::string seen;
    for (std::size_t line = 0; line <= GetParam().index; ++line) {
        std::getline(standIn, seen);
    }
    EXPECT_EQ(seen, std::string("frame ID 0x1FFFFFF0 data 01 02: sound, ") + expected.standInSaw);
    ASSERT_TRUE(traced.frameLeft) << "no frame left the UART";
    for (const auto& setting : during) {
        EXPECT_EQ(traced.atFrame[setting.first], setting.second) << setting.first << " when the frame left";
    }
    if (port.uart == Uart::Ft232) {
        EXPECT_EQ(traced.history["latency"], kLatencyForTheRun) << "the latency timer, in order";
    }
}

std::vector<DriverCase> driverCases()
{
    std::vector<DriverCase> cases;
    for (const Port& port : kPorts) {
        for (std::size_t index = 0; index < std::size(kCases); ++index) {
            cases.push_back({port, index});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Drivers, GuestRun, testing::ValuesIn(driverCases()),
                         [](const testing::TestParamInfo<DriverCase>& info) {
                             return std::string(info.param.port.arch) + "_" + info.param.port.name + "_" +
                                    kCases[info.param.index].name;
                         });

}  // namespace
