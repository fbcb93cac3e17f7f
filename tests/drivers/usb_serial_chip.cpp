// A USB serial chip played in user space, for the guest of the drivers leg: a FunctionFS
// function that Linux's own driver for the chip family takes (ch341, cp210x or pl2303),
// answering the vendor requests that driver sends and writing each line setting it is
// given, decoded, to a log. The chip's UART is a pseudo-terminal whose other end is at
// LINK, where a stand-in device serves it like any port: what the host sends on the bulk
// OUT endpoint goes to the terminal, and what the stand-in answers comes back on bulk IN.
//
//   usb_serial_chip FAMILY FFS_DIR LINK LOG     FAMILY: ch340, cp2102 or pl2303
//
// Says "ready" once its descriptors are in, when the gadget may be bound to a controller.
// The log's lines, which the drivers test reads:
//   chip open                                  the driver opened the port
//   chip line baud=B data=D parity=P stop=S    the line as the chip now has it
//   chip flow none|rtscts|xonxoff              its flow control, where the driver sets one
//   chip received HEX...                       bytes the host sent to be transmitted
//   chip request TYPE REQUEST VALUE INDEX [HEX...]
//                                              each control request as it came, with the
//                                              data the host sent or the chip answered
// The requests each driver sends, and what they mean, are those of Linux 6.1 and 6.12
// (drivers/usb/serial/ch341.c, cp210x.c and pl2303.c).

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Family { Ch340, Cp2102, Pl2303 };

struct Request {
    std::uint8_t type;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    std::uint16_t length;
};

// The chip's line as the driver last set it, in the chip's own terms decoded.
struct Line {
    unsigned baud = 0;
    unsigned dataBits = 0;
    char parity = '?';
    const char* stopBits = "?";
};

struct Chip {
    Family family;
    Line line;
    std::uint8_t registers[256] = {};  // CH34x and PL2303 registers, by address
    Bytes cp210xFlow = Bytes(16, 0);   // CP210x GET_FLOW/SET_FLOW block
    Bytes pl2303Line = Bytes(7, 0);    // PL2303 GET_LINE_REQUEST/SET_LINE_REQUEST block
    std::FILE* log = nullptr;
    std::mutex logLock;
    // Held by the control endpoint from taking a request's data (which lets the host go on)
    // until the request is logged, and by the bulk OUT side before it logs: bytes the host
    // sent after a request are never logged before it.
    std::mutex busOrder;
};

void logLine(Chip& chip, const std::string& text)
{
    std::lock_guard<std::mutex> hold(chip.logLock);
    std::fprintf(chip.log, "chip %s\n", text.c_str());
    std::fflush(chip.log);
}

void logLineSettings(Chip& chip)
{
    logLine(chip, "line baud=" + std::to_string(chip.line.baud) + " data=" + std::to_string(chip.line.dataBits) +
                      " parity=" + std::string(1, chip.line.parity) + " stop=" + chip.line.stopBits);
}

// The CP210x and the PL2303 number parity and stop bits alike: parity 0 to 4 is none, odd,
// even, mark, space; stop bits 0 to 2 are 1, 1.5, 2.
void setCodedFormat(Line& line, unsigned parity, unsigned stopBits)
{
    static const char kParities[] = "NOEMS";
    static const char* const kStopBits[] = {"1", "1.5", "2"};
    line.parity = parity < 5 ? kParities[parity] : '?';
    line.stopBits = stopBits < 3 ? kStopBits[stopBits] : "?";
}

std::uint32_t littleEndian32(const Bytes& bytes, std::size_t at)
{
    return bytes.size() < at + 4 ? 0
                                 : bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                       static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// --- CH340 (ch341): vendor requests to the device -------------------------------------------

// baud = 48 MHz / (2^(12 - 3 * ps - fact) * (256 - divisor register)); the driver's
// write of the prescaler register 0x12 and the divisor register 0x13 together.
unsigned ch34xBaud(std::uint8_t prescaler, std::uint8_t divisor)
{
    const unsigned ps = prescaler & 0x03;
    const unsigned fact = (prescaler >> 2) & 0x01;
    const unsigned div = 0x100 - divisor;
    return div == 0 ? 0 : 48000000u / ((1u << (12 - 3 * ps - fact)) * div);
}

void ch34xLineControl(Chip& chip, std::uint8_t lcr)
{
    chip.line.dataBits = 5 + (lcr & 0x03);
    if ((lcr & 0x08) == 0) {
        chip.line.parity = 'N';
    } else if (lcr & 0x20) {
        chip.line.parity = (lcr & 0x10) ? 'S' : 'M';
    } else {
        chip.line.parity = (lcr & 0x10) ? 'E' : 'O';
    }
    chip.line.stopBits = (lcr & 0x04) ? "2" : "1";
}

bool answerCh340(Chip& chip, const Request& request, const Bytes&, Bytes& reply)
{
    switch (request.request) {
    case 0x5f:  // read version: 0x31 writes the line control register, not the older pair
        reply = {0x31, 0x00};
        return true;
    case 0xa1:  // serial init
        return true;
    case 0x95:  // read two registers; 0x06 and 0x07 hold the modem status, inverted
        reply = {chip.registers[request.value & 0xff], chip.registers[request.value >> 8]};
        if (request.value == 0x0706) {  // read by the open, once the line is set
            logLine(chip, "open");
        }
        return true;
    case 0x9a: {  // write two registers: addresses in wValue, values in wIndex
        const std::uint8_t first = request.value & 0xff, second = request.value >> 8;
        chip.registers[first] = request.index & 0xff;
        chip.registers[second] = request.index >> 8;
        if (first == 0x12 && second == 0x13) {
            chip.line.baud = ch34xBaud(chip.registers[0x12], chip.registers[0x13]);
        } else if (first == 0x18) {
            ch34xLineControl(chip, chip.registers[0x18]);
            logLineSettings(chip);
        }
        return true;
    }
    case 0xa4:  // modem control: DTR and RTS, inverted
        return true;
    default:
        return false;
    }
}

// --- CP2102 (cp210x): vendor requests to the interface, and the part number to the device ---

bool answerCp2102(Chip& chip, const Request& request, const Bytes& data, Bytes& reply)
{
    switch (request.request) {
    case 0xff:  // vendor specific: only the part number, 0x02 for a CP2102
        if (request.value != 0x370b) {
            return false;
        }
        reply = {0x02, 0x00};
        return true;
    case 0x00:  // interface enable
        if (request.value == 1) {
            logLine(chip, "open");
        }
        return true;
    case 0x1e:  // set baud rate, in bits per second
        chip.line.baud = littleEndian32(data, 0);
        logLineSettings(chip);
        return true;
    case 0x03: {  // set line control: data bits, parity, stop bits in nibbles
        chip.line.dataBits = (request.value >> 8) & 0x0f;
        setCodedFormat(chip.line, (request.value >> 4) & 0x0f, request.value & 0x0f);
        logLineSettings(chip);
        return true;
    }
    case 0x14:  // get flow
        reply = chip.cp210xFlow;
        return true;
    case 0x13: {  // set flow: CTS handshake, RTS flow control, automatic XON/XOFF
        chip.cp210xFlow = data;
        chip.cp210xFlow.resize(16, 0);
        const std::uint32_t handshake = littleEndian32(chip.cp210xFlow, 0);
        const std::uint32_t replace = littleEndian32(chip.cp210xFlow, 4);
        const bool rtsCts = (handshake & 0x08) != 0 || ((replace >> 6) & 0x03) == 2;
        logLine(chip, std::string("flow ") + (rtsCts ? "rtscts" : (replace & 0x03) ? "xonxoff" : "none"));
        return true;
    }
    case 0x1d:  // get baud rate
        reply = {static_cast<std::uint8_t>(chip.line.baud), static_cast<std::uint8_t>(chip.line.baud >> 8),
                 static_cast<std::uint8_t>(chip.line.baud >> 16), static_cast<std::uint8_t>(chip.line.baud >> 24)};
        return true;
    case 0x08:  // get modem status
        reply = {0x00};
        return true;
    case 0x10:  // get comm status: nothing waits to be sent
        reply = Bytes(19, 0);
        return true;
    case 0x05:  // set break
    case 0x07:  // set modem handshaking
    case 0x12:  // purge
    case 0x15:  // embed events
    case 0x19:  // set special characters
        return true;
    default:
        return false;
    }
}

// --- PL2303 (pl2303): vendor register requests, and the CDC-style line requests -----------

// The TA's divisor form: 12 MHz * 32 / (mantissa * 2^exponent); otherwise the rate itself.
unsigned pl2303Baud(const Bytes& line)
{
    if ((line[3] & 0x80) == 0) {
        return littleEndian32(line, 0);
    }
    const unsigned mantissa = line[0] | (line[1] & 0x07) << 8;
    const unsigned exponent = ((line[1] >> 4) & 0x0e) | (line[2] & 0x01);
    return mantissa == 0 ? 0 : (12000000u * 32 / mantissa) >> exponent;
}

bool answerPl2303(Chip& chip, const Request& request, const Bytes& data, Bytes& reply)
{
    const bool vendor = (request.type & USB_TYPE_MASK) == USB_TYPE_VENDOR;
    if (vendor && request.request == 0x01 && (request.type & USB_DIR_IN)) {
        // Register reads; 0x8080 answers only on a TA, which is what this chip is.
        reply = {chip.registers[request.value & 0x7f]};
        return true;
    }
    if (vendor && request.request == 0x01) {
        const std::uint8_t address = request.value & 0x7f;
        chip.registers[address] = request.index & 0xff;
        if (address == 0) {  // flow control in the top nibble
            const unsigned flow = chip.registers[0] & 0xf0;
            logLine(chip, std::string("flow ") + (flow == 0x60 || flow == 0x40 ? "rtscts" : flow == 0xc0 ? "xonxoff" : "none"));
        } else if (address == 8 && request.value == 8) {  // the open's reset of the data pipes
            logLine(chip, "open");
        }
        return true;
    }
    switch (request.request) {
    case 0x21:  // get line request
        reply = chip.pl2303Line;
        return true;
    case 0x20: {  // set line request: rate, stop bits, parity, data bits
        chip.pl2303Line = data;
        chip.pl2303Line.resize(7, 0);
        chip.line.baud = pl2303Baud(chip.pl2303Line);
        setCodedFormat(chip.line, chip.pl2303Line[5], chip.pl2303Line[4]);
        chip.line.dataBits = chip.pl2303Line[6];
        logLineSettings(chip);
        return true;
    }
    case 0x22:  // set control lines
    case 0x23:  // break
        return true;
    default:
        return false;
    }
}

bool answer(Chip& chip, const Request& request, const Bytes& data, Bytes& reply)
{
    switch (chip.family) {
    case Family::Ch340:
        return answerCh340(chip, request, data, reply);
    case Family::Cp2102:
        return answerCp2102(chip, request, data, reply);
    case Family::Pl2303:
        return answerPl2303(chip, request, data, reply);
    }
    return false;
}

// --- FunctionFS ----------------------------------------------------------------------------

void put16(Bytes& bytes, unsigned value)
{
    bytes.push_back(value & 0xff);
    bytes.push_back((value >> 8) & 0xff);
}

void put32(Bytes& bytes, std::uint32_t value)
{
    put16(bytes, value & 0xffff);
    put16(bytes, value >> 16);
}

void putEndpoint(Bytes& bytes, unsigned address, unsigned attributes, unsigned maxPacket, unsigned interval)
{
    bytes.insert(bytes.end(), {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, static_cast<std::uint8_t>(address),
                               static_cast<std::uint8_t>(attributes)});
    put16(bytes, maxPacket);
    bytes.push_back(static_cast<std::uint8_t>(interval));
}

// One vendor interface with bulk IN (ep1), bulk OUT (ep2) and, for the families whose
// driver wants one, interrupt IN (ep3), at full and high speed.
Bytes descriptors(Family family)
{
    const bool interrupt = family != Family::Cp2102;
    const unsigned endpoints = interrupt ? 3 : 2;
    Bytes speeds;
    for (const unsigned bulkPacket : {64u, 512u}) {
        speeds.insert(speeds.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, static_cast<std::uint8_t>(endpoints),
                                     USB_CLASS_VENDOR_SPEC, 0, 0, 0});
        putEndpoint(speeds, 1 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, bulkPacket, 0);
        putEndpoint(speeds, 2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, bulkPacket, 0);
        if (interrupt) {
            putEndpoint(speeds, 3 | USB_DIR_IN, USB_ENDPOINT_XFER_INT, 16, bulkPacket == 64 ? 1 : 4);
        }
    }
    Bytes head;
    put32(head, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    put32(head, static_cast<std::uint32_t>(5 * 4 + speeds.size()));
    put32(head, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
    put32(head, 1 + endpoints);
    put32(head, 1 + endpoints);
    head.insert(head.end(), speeds.begin(), speeds.end());
    return head;
}

bool writeAll(int fd, const Bytes& bytes)
{
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// A transfer whose failure the next one shows: the host gives up on it and asks again.
void transfer(ssize_t)
{
}

std::string hex(const std::uint8_t* bytes, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02x", bytes[i]);
        text += byte;
    }
    return text;
}

void logRequest(Chip& chip, const Request& request, const Bytes& data, bool known)
{
    char head[64];
    std::snprintf(head, sizeof head, "request %02x %02x %04x %04x", request.type, request.request, request.value,
                  request.index);
    logLine(chip, head + hex(data.data(), data.size()) + (known ? "" : " stalled"));
}

// ep0: each SETUP is answered, its data read first where the host sends some; a request
// the chip does not know is stalled, as a real chip's would be.
void serveControl(Chip& chip, int ep0)
{
    for (;;) {
        usb_functionfs_event event;
        const ssize_t got = read(ep0, &event, sizeof event);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != static_cast<ssize_t>(sizeof event)) {
            std::perror("usb_serial_chip: ep0");
            std::exit(1);
        }
        if (event.type != FUNCTIONFS_SETUP) {
            continue;
        }
        const Request request{event.u.setup.bRequestType, event.u.setup.bRequest, event.u.setup.wValue,
                              event.u.setup.wIndex, event.u.setup.wLength};
        Bytes data, reply;
        if (request.type & USB_DIR_IN) {
            const bool known = answer(chip, request, data, reply);
            reply.resize(std::min<std::size_t>(reply.size(), request.length));
            logRequest(chip, request, known ? reply : Bytes(), known);
            if (known) {
                transfer(write(ep0, reply.data(), reply.size()));
            } else {
                transfer(read(ep0, nullptr, 0));
            }
            continue;
        }
        std::lock_guard<std::mutex> inOrder(chip.busOrder);
        data.resize(request.length);
        const ssize_t sent = read(ep0, data.data(), data.size());
        data.resize(sent > 0 ? static_cast<std::size_t>(sent) : 0);
        logRequest(chip, request, data, true);
        if (sent >= 0) {
            answer(chip, request, data, reply);
        }
    }
}

// bulk OUT to the terminal, logged byte for byte.
void carryOut(Chip& chip, int epOut, int terminal)
{
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t got = read(epOut, buffer, sizeof buffer);
        if (got <= 0) {
            usleep(10000);  // disabled until the host configures the chip again
            continue;
        }
        {
            std::lock_guard<std::mutex> inOrder(chip.busOrder);
            logLine(chip, "received" + hex(buffer, static_cast<std::size_t>(got)));
        }
        transfer(write(terminal, buffer, static_cast<std::size_t>(got)));
    }
}

// The terminal to bulk IN.
void carryIn(int terminal, int epIn)
{
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0) {
            usleep(10000);
            continue;
        }
        transfer(write(epIn, buffer, static_cast<std::size_t>(got)));
    }
}

int openOrExit(const std::string& path, int flags)
{
    const int fd = open(path.c_str(), flags);
    if (fd < 0) {
        std::fprintf(stderr, "usb_serial_chip: %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv)
{
    static Chip chip{};
    const std::string family = argc == 5 ? argv[1] : "";
    if (family == "ch340") {
        chip.family = Family::Ch340;
    } else if (family == "cp2102") {
        chip.family = Family::Cp2102;
    } else if (family == "pl2303") {
        chip.family = Family::Pl2303;
    } else {
        std::fprintf(stderr, "usage: usb_serial_chip ch340|cp2102|pl2303 FFS_DIR LINK LOG\n");
        return 2;
    }
    const std::string ffs = argv[2];
    chip.log = std::fopen(argv[4], "a");
    if (chip.log == nullptr) {
        std::perror("usb_serial_chip: log");
        return 1;
    }
    chip.registers[0x06] = chip.registers[0x07] = 0xff;  // CH34x: no modem input asserted

    // The UART: a terminal in raw mode whose far end the stand-in opens at LINK. This end
    // keeps the far end open too, so that a stand-in's restart never hangs it up.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    termios raw{};
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 || tcgetattr(terminal, &raw) != 0) {
        std::perror("usb_serial_chip: terminal");
        return 1;
    }
    cfmakeraw(&raw);
    tcsetattr(terminal, TCSANOW, &raw);
    const std::string farEnd = ptsname(terminal);
    const int keptOpen = openOrExit(farEnd, O_RDWR | O_NOCTTY);
    tcsetattr(keptOpen, TCSANOW, &raw);
    unlink(argv[3]);
    if (symlink(farEnd.c_str(), argv[3]) != 0) {
        std::perror("usb_serial_chip: link");
        return 1;
    }

    const int ep0 = openOrExit(ffs + "/ep0", O_RDWR);
    Bytes strings;
    put32(strings, FUNCTIONFS_STRINGS_MAGIC);
    put32(strings, 16);
    put32(strings, 0);
    put32(strings, 0);
    if (!writeAll(ep0, descriptors(chip.family)) || !writeAll(ep0, strings)) {
        std::perror("usb_serial_chip: descriptors");
        return 1;
    }
    const int epIn = openOrExit(ffs + "/ep1", O_RDWR);
    const int epOut = openOrExit(ffs + "/ep2", O_RDWR);
    std::puts("ready");
    std::fflush(stdout);
    std::thread(carryOut, std::ref(chip), epOut, terminal).detach();
    std::thread(carryIn, terminal, epIn).detach();
    serveControl(chip, ep0);
}
