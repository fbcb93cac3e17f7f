// What velmoran did on Linux's own serial drivers, from one guest boot per architecture
// (guest.sh boot): each case's exit status and output as the guest reported them, the
// frame its port's stand-in device saw, and what qemu's trace (for the CDC-ACM adapter,
// the guest's usbmon, for a user-space chip its own log) says the UART was told during
// that case's run.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The user-space chips (usb_serial_chip.cpp) write one log whose lines read alike for
// every family: AnyChip stands for them in the trace patterns.
enum class Uart { Ft232, Uart16550, Pl011, CdcAcm, Ch340, Cp2102, Pl2303, AnyChip };
bool isChip(Uart uart)
{
    return uart == Uart::Ch340 || uart == Uart::Cp2102 || uart == Uart::Pl2303;
}

// A port by its tty's name, or a chip by its family's, whose tty the guest reports.
struct Port {
    const char* arch;
    const char* name;
    Uart uart;
};
// What a missed reply names each port as, from the guest's sysfs: the driver, and for USB
// the IDs and the strings the device gives.
const std::map<Uart, std::string> kPortIs = {
    {Uart::Ft232, "QEMU USB SERIAL by QEMU \\(USB 0403:6001, driver ftdi_sio\\)"},
    {Uart::Uart16550, "driver serial"},
    {Uart::Pl011, "driver uart-pl011"},
    {Uart::CdcAcm, "Gadget Serial v[0-9.]+ by Linux [^ ]+ with dummy_udc \\(USB 0525:a4a7, driver cdc_acm\\)"},
    {Uart::Ch340, "USB 1a86:7523, driver ch341-uart"},
    {Uart::Cp2102, "USB 10c4:ea60, driver cp210x"},
    {Uart::Pl2303, "USB 067b:2303, driver pl2303"},
};
const Port kPorts[] = {{"amd64", "ttyUSB0", Uart::Ft232}, {"amd64", "ttyS1", Uart::Uart16550},
                       {"arm64", "ttyUSB0", Uart::Ft232}, {"arm64", "ttyS0", Uart::Uart16550},
                       {"arm64", "ttyAMA0", Uart::Pl011}, {"amd64", "ttyACM0", Uart::CdcAcm},
                       {"arm64", "ttyACM0", Uart::CdcAcm}, {"amd64", "ch340", Uart::Ch340},
                       {"amd64", "cp2102", Uart::Cp2102}, {"amd64", "pl2303", Uart::Pl2303},
                       {"arm64", "ch340", Uart::Ch340}, {"arm64", "cp2102", Uart::Cp2102},
                       {"arm64", "pl2303", Uart::Pl2303}};

struct GuestCase {
    const char* name;
    int exitStatus;
    std::string output;      // "{port}" stands for the port's path
    const char* standInSaw;  // how the stand-in answered the case's frame; none may be sent without one
                             // but for "": a frame the stand-in never got
    bool adapterPulled = false;  // CDC-ACM's only: its adapter is pulled, then plugged back
};
const std::string kBanner = "Program to select CAN ID for download, Version 1.00\n";
const std::string kOpened = kBanner + "Opened serial port {port} successfully\n";
const std::string kSent = kOpened + "Sent ID: 0x1FFFFFF0 Data: 0x01 0x02 \n";
// In the order the guest runs them on each port, whose stand-in leaves the first frame
// unanswered: the bad ID first, while the port has had none but the guest's settings.
const GuestCase kCases[] = {
    {"bad_id", 4, kOpened + "Second argument not a valid hex number: xyz\n", nullptr},
    {"silent", 7, kSent + "No acknowledgment received\n", "no reply"},
    {"acknowledged", 0, kSent + "Received: 0x06 \n", "replied 0x06 after 0 ms"},
    {"locked", 3, kBanner + "Error opening serial port {port}\n", nullptr},
    {"pulled", 7, kSent + "No acknowledgment received\n", "", true},
    {"plugged_back", 0, kSent + "Received: 0x06 \n", "replied 0x06 after 0 ms", true},
};
bool standInSawFrame(const GuestCase& guestCase)
{
    return guestCase.standInSaw != nullptr && *guestCase.standInSaw != '\0';
}
// Inside the write's own bound, 650 ms for the frame, which a run ends after only with its
// start and exit on top: only the pull, 0.2 s in, ends the run this soon. Such runs take
// 280 to 520 ms under TCG.
constexpr int kPulledRunMs = 600;
// A silent device's run, bounded by the write's 650 ms and the 11 ms window, not by a
// drain or close that waits on the adapter; these runs take 10 to 310 ms under TCG.
constexpr int kSilentRunMs = 1000;

// How a UART's trace lines read: each sets the named settings from its groups. A "byte"
// goes to the UART's data register; "frame" is the FT232's bulk transfer, which only a
// frame makes.
struct TracePattern {
    Uart uart;
    std::regex line;
    std::vector<std::string> keys;
};
const std::vector<TracePattern> kTracePatterns = {
    // An open applies the port's settings (CDC-ACM raises DTR and RTS instead).
    {Uart::Ft232, std::regex("(usb_serial_set_baud)"), {"open"}},
    {Uart::Uart16550, std::regex("(serial_update_parameters)"), {"open"}},
    {Uart::Pl011, std::regex("(pl011_baudrate_change)"), {"open"}},
    {Uart::CdcAcm, std::regex("Co:\\S+ (s 21 22 0003) "), {"open"}},
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
    // usbmon: SET_LINE_CODING's data, the frame's bulk OUT transfer, and how that ended.
    {Uart::CdcAcm, std::regex(" s 21 20 0000 0000 0007 7 = ([0-9a-f]{8} [0-9a-f]{6})"), {"coding"}},
    {Uart::CdcAcm, std::regex("S Bo:\\S+ -115 9 = (0936261f fffff001 02)"), {"frame"}},
    {Uart::CdcAcm, std::regex("C Bo:\\S+ (-?\\d+) "), {"frame_end"}},
    // A chip's log: its driver's open, each line setting decoded, the bytes it was sent.
    {Uart::AnyChip, std::regex("^chip (open)$"), {"open"}},
    {Uart::AnyChip, std::regex("^chip line baud=(\\d+) data=(\\d+) parity=(.) stop=(\\S+)$"),
     {"baud", "data", "parity", "stop"}},
    {Uart::AnyChip, std::regex("^chip flow (\\S+)$"), {"flow"}},
    {Uart::AnyChip, std::regex("^chip (received) "), {"frame"}},
};
const std::string kFrameBytes = "09 36 26 1f ff ff f0 01 02 ";

using Settings = std::map<std::string, std::string>;
// What each UART must have been told while the frame left: 115200 baud (the FT232 model's
// nearest divisor gives 115384; the PL011's is 13 + 1/64 of its 24 MHz clock), 8 data bits,
// no parity, one stop bit (the PL011's LCR_H 0x70, FIFO on), no flow control, and the
// FT232's latency timer at 1 ms; CDC-ACM's line coding 00c20100 000008, 115200 (little-endian),
// 1 stop bit, no parity, 8 data bits. The chips: the CH340's nearest divisor gives 115384
// (prescaler 3, divisor 52 of its 48 MHz clock, +0.16%), the CP2102 and the PL2303 take
// 115200 as it stands; the CH340's driver sets no flow control, the others' none. The first
// of each is a setting the guest's lack. RTS/CTS flow control is the tool's to leave as it
// was: off, as the guest left it.
const std::map<Uart, Settings> kDuringExchange = {
    {Uart::Ft232, {{"baud", "115384"}, {"parity", "N"}, {"data", "8"}, {"stop", "1"}, {"flow", "0"}, {"latency", "0x1"}}},
    {Uart::Uart16550, {{"baud", "115200"}, {"parity", "N"}, {"data", "8"}, {"stop", "1"}}},
    {Uart::Pl011, {{"ibrd", "13"}, {"fbrd", "1"}, {"lcr_h", "70"}, {"flow", "0"}}},
    {Uart::CdcAcm, {{"coding", "00c20100 000008"}}},
    {Uart::Ch340, {{"baud", "115384"}, {"data", "8"}, {"parity", "N"}, {"stop", "1"}}},
    {Uart::Cp2102, {{"baud", "115200"}, {"data", "8"}, {"parity", "N"}, {"stop", "1"}, {"flow", "none"}}},
    {Uart::Pl2303, {{"baud", "115200"}, {"data", "8"}, {"parity", "N"}, {"stop", "1"}, {"flow", "none"}}},
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
        // Before it, only what was in force as the case began (the guest's usbmon).
        if (line == "-- the case begins") {
            result.history.clear();
        }
        for (const TracePattern& pattern : kTracePatterns) {
            std::smatch match;
            const bool applies = pattern.uart == uart || (pattern.uart == Uart::AnyChip && isChip(uart));
            if (!applies || !std::regex_search(line, match, pattern.line)) {
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

// A run's time as the guest reported it must be there, and within `limitMs`.
void expectRunWithin(const std::string& path, int limitMs, const char* run)
{
    const std::string text = readFile(path);
    ASSERT_TRUE(std::regex_match(text, std::regex("[0-9]+\n"))) << "no time reported for " << run << ": '" << text << "'";
    EXPECT_LE(std::stoi(text), limitMs) << "ms, " << run;
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
    // A chip its driver did not take, or that did not start, says so in the guest.
    ASSERT_EQ(readFile(run + port.name + ".fault"), "") << port.name;
    std::string path = readFile(run + port.name + ".port");
    path = path.empty() ? std::string("/dev/") + port.name : path.substr(0, path.size() - 1);

    EXPECT_EQ(readFile(at + ".exit"), std::to_string(expected.exitStatus) + "\n");
    EXPECT_EQ(readFile(at + ".out"), std::regex_replace(expected.output, std::regex("\\{port\\}"), path));
    // Standard error says only why a run failed: by whom a held port is held; that nothing
    // came back on the port, named as what it is, whose driver counted no line error where
    // it counts them; that the pulled adapter's port hung up.
    const std::string said = readFile(at + ".err");
    std::string why;
    if (std::string(expected.name) == "locked") {
        why = "velmoran: " + path + " is in use by another program, holder \\(PID [0-9]+\\): close it, then run again\\.\n";
    } else if (std::string(expected.name) == "silent") {
        why = "velmoran: nothing came back on " + path + ", " + kPortIs.at(port.uart) +
              ", in the 61 ms after the frame went out: is this the CAN interface's port, and is the adapter powered "
              "and on the bus\\?\n";
    } else if (std::string(expected.name) == "pulled") {
        why = "velmoran: " + path + " hung up or failed during the run, as a port does when its adapter is pulled out "
              "or loses power: is it plugged in and powered\\?\n";
    }
    EXPECT_TRUE(std::regex_match(said, std::regex(why))) << said;
    if (std::string(expected.name) != "pulled") {
        EXPECT_EQ(readFile(at + ".reopen"), "user 65534 opened " + path + "\n") << "the port given back";
    }
    if (std::string(expected.name) == "silent") {
        expectRunWithin(at + ".ms", kSilentRunMs, "the run with a silent device");
    }
    const char* record = port.uart == Uart::CdcAcm ? ".usbmon" : isChip(port.uart) ? ".chip" : ".trace";
    Replay traced = replay(port.uart, readFile(at + record));
    const Settings& during = kDuringExchange.at(port.uart);
    // Absences count only where the stretch shows the port opened.
    EXPECT_FALSE(traced.history["open"].empty()) << "the stretch shows no open of the port";
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
    // The stand-in's frame lines, one for each earlier case that it saw a frame of.
    std::istringstream standIn(readFile(run + "sim-" + port.name + ".log"));
    std::string seen;
    for (std::size_t index = 0; index <= GetParam().index; ++index) {
        while (standInSawFrame(kCases[index]) && std::getline(standIn, seen) && seen.rfind("frame ", 0) != 0) {
        }
    }
    if (standInSawFrame(expected)) {
        EXPECT_EQ(seen, std::string("frame ID 0x1FFFFFF0 data 01 02: sound, ") + expected.standInSaw);
    }
    if (std::string(expected.name) == "pulled") {
        EXPECT_EQ(readFile(at + ".pull"), "0 gone\n") << "the pull's exit status, and the adapter's tty after it";
        expectRunWithin(at + ".ms", kPulledRunMs, "the run with the adapter pulled");
        const std::vector<std::string>& ended = traced.history["frame_end"];
        EXPECT_NE(ended.empty() ? "0" : ended.front(), "0") << "the frame's transfer ended before the pull";
    }
    if (std::string(expected.name) == "plugged_back") {
        // Its stand-in, on the gadget's side of the adapter, served this one frame and
        // ended, its reply passed through the gadget's driver before the line was put back.
        const std::string log = readFile(run + "sim-" + port.name + ".log");
        const std::string ended = "ended 0 with its line as it was\n";
        EXPECT_TRUE(log.size() >= ended.size() && log.compare(log.size() - ended.size(), ended.size(), ended) == 0)
            << "the stand-in's log ends: " << log.substr(log.size() > 200 ? log.size() - 200 : 0);
    }
    ASSERT_TRUE(traced.frameLeft) << "no frame left the UART";
    for (const auto& setting : during) {
        EXPECT_EQ(traced.atFrame[setting.first], setting.second) << setting.first << " when the frame left";
    }
    if (port.uart == Uart::Ft232) {
        EXPECT_EQ(traced.history["latency"], kLatencyForTheRun) << "the latency timer, in order";
    }
}

// A run on a port the guest does not have lists exactly the ports it has, by the names
// the guest's own sysfs gives them, the 8250 driver's placeholders left out; COM4 is one.
class GuestListing : public testing::TestWithParam<const char*> {};

TEST_P(GuestListing, NamesTheGuestsPorts)
{
    const std::string arch = GetParam();
    const std::string run = std::string(VELMORAN_GUEST_RUNS) + "/" + arch + "/run/";
    std::vector<std::string> paths;
    for (const Port& port : kPorts) {
        if (arch == port.arch) {
            const std::string chipPort = readFile(run + port.name + ".port");
            paths.push_back(chipPort.empty() ? std::string("/dev/") + port.name
                                             : chipPort.substr(0, chipPort.size() - 1));
        }
    }
    std::sort(paths.begin(), paths.end());
    std::string listed = "velmoran: the serial ports here are ";
    for (const std::string& path : paths) {
        listed += (&path == &paths.front() ? "" : ", ") + path;
    }
    listed += ".\n";
    EXPECT_EQ(readFile(run + "listing-missing.exit"), "3\n");
    EXPECT_EQ(readFile(run + "listing-missing.out"), kBanner + "Error opening serial port /dev/ttyUSB9\n");
    EXPECT_EQ(readFile(run + "listing-missing.err"),
              "velmoran: /dev/ttyUSB9 does not exist: check the port's name.\n" + listed);
    EXPECT_EQ(readFile(run + "listing-com4.exit"), "3\n");
    EXPECT_EQ(readFile(run + "listing-com4.out"), kBanner + "Error opening serial port COM4\n");
    EXPECT_EQ(readFile(run + "listing-com4.err"),
              "velmoran: COM4 (/dev/ttyS3) has no UART behind it: check the port's name.\n" + listed);
}

INSTANTIATE_TEST_SUITE_P(Drivers, GuestListing, testing::Values("amd64", "arm64"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) + "_listing";
                         });

std::vector<DriverCase> driverCases()
{
    std::vector<DriverCase> cases;
    for (const Port& port : kPorts) {
        for (std::size_t index = 0; index < std::size(kCases); ++index) {
            if (!kCases[index].adapterPulled || port.uart == Uart::CdcAcm) {
                cases.push_back({port, index});
            }
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
