// velmoran-sim: a stand-in CAN interface, for rehearsing velmoran and download scripts
// with no target attached: on a port of a null-modem pair (two virtual COM ports joined
// in the driver, or two adapters joined by a cable), or on POSIX on a pseudo-terminal
// that it makes itself.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device_port.hpp"
#include "exchange.hpp"
#include "sim_platform.hpp"

namespace {

void printHelp()
{
    std::puts(
        "Usage: velmoran-sim [PORT] [options]\n"
        "Plays the CAN interface on PORT, one end of a null-modem pair (COM21; on Linux and\n"
        "other POSIX systems also a device path such as /dev/ttyUSB1): velmoran then takes\n"
        "the other end. PORT is taken exclusively at 115200 8N1 and its settings are put\n"
        "back on exit. Without PORT (not on Windows) it plays the device on a new\n"
        "pseudo-terminal. The first line printed is the line it serves, once it is ready:\n"
        "PORT, or the pseudo-terminal's path to give velmoran as its port word. Then one\n"
        "line per frame.\n"
        "\n"
        "Options:\n"
        "  --reply-byte HEX   the acknowledgment byte to answer with, 00 to FF (default 06)\n"
        "  --delay MS         wait this many milliseconds before replying (default 0)\n"
        "  --silent           never reply\n"
        "  --ignore-first N   leave the first N frames unanswered, then answer as set\n"
        "  --extra HEX,...    bytes to send straight after the reply byte\n"
        "  --frames N         serve N frames (1 or more), then exit (default: until interrupted)\n"
        "  -h, --help         show this text");
}

bool parseByte(const std::string& text, std::uint8_t& value)
{
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || end != text.c_str() + text.size() || parsed > 0xFF || text[0] == '-' || text[0] == '+') {
        return false;
    }
    value = static_cast<std::uint8_t>(parsed);
    return true;
}

bool parseCount(const char* text, long minimum, long& value)
{
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= minimum && value <= 1000000000L;
}

bool parseByteList(const char* text, std::vector<std::uint8_t>& bytes)
{
    const std::string list = text;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        std::uint8_t value = 0;
        if (!parseByte(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start), value)) {
            return false;
        }
        bytes.push_back(value);
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

struct SimOptions {
    std::string portWord;  // empty: a pseudo-terminal of its own
    DeviceBehaviour behaviour;
    long frames = 0;  // 0: until interrupted
    long ignoreFirst = 0;
};

int refuse(const std::string& what)
{
    std::fprintf(stderr, "velmoran-sim: %s; see velmoran-sim --help\n", what.c_str());
    return 2;
}

// Gives 0 to go on, or the process exit code to stop with.
int parseOptions(int argc, char** argv, SimOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            printHelp();
            return -1;
        }
        if (option == "--silent") {
            options.behaviour.reply = false;
            continue;
        }
        if (option.compare(0, 1, "-") != 0 && options.portWord.empty()) {
            options.portWord = option;
            continue;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const char* expected = nullptr;  // what the value must be
        bool valid = false;
        long number = 0;
        if (option == "--reply-byte") {
            expected = "a byte in hex, 00 to FF";
            valid = value != nullptr && parseByte(value, options.behaviour.replyByte);
        } else if (option == "--delay") {
            expected = "a whole number of milliseconds, 0 or more";
            valid = value != nullptr && parseCount(value, 0, number);
            options.behaviour.replyDelayMs = static_cast<double>(number);
        } else if (option == "--extra") {
            expected = "bytes in hex, 00 to FF, separated by commas";
            valid = value != nullptr && parseByteList(value, options.behaviour.extraBytes);
        } else if (option == "--ignore-first") {
            expected = "a count of 0 or more";
            valid = value != nullptr && parseCount(value, 0, options.ignoreFirst);
        } else if (option == "--frames") {
            expected = "a count of 1 or more (leave --frames out to serve until interrupted)";
            valid = value != nullptr && parseCount(value, 1, options.frames);
        } else {
            return refuse("unknown option '" + option + "'");
        }
        if (value == nullptr) {
            return refuse(option + " needs a value: " + expected);
        }
        if (!valid) {
            return refuse(option + " " + value + ": not " + expected);
        }
        ++i;
    }
    return 0;
}

void printFrameLine(const ExchangeRecord& record, const DeviceBehaviour& behaviour)
{
    const bool decoded = record.frame.status != FrameDecodeStatus::Incomplete &&
                         record.frame.status != FrameDecodeStatus::BadLength;
    if (decoded) {
        std::printf("frame ID 0x%08X data", static_cast<unsigned>(record.frame.arbitrationId));
        for (std::size_t i = 0; i < record.frame.dataCount; ++i) {
            std::printf(" %02X", static_cast<unsigned>(record.frame.data[i]));
        }
    } else {
        std::printf("bytes");
        for (std::uint8_t byte : record.received) {
            std::printf(" %02X", static_cast<unsigned>(byte));
        }
    }
    const bool sound = record.frame.status == FrameDecodeStatus::Ok;
    std::printf(": %s", sound ? "sound" : frameDecodeStatusName(record.frame.status));
    if (!behaviour.reply) {
        std::printf(", no reply\n");
        std::fflush(stdout);
        return;
    }
    std::printf(", replied 0x%02X", static_cast<unsigned>(behaviour.replyByte));
    if (!behaviour.extraBytes.empty()) {
        std::printf(" then");
        for (std::uint8_t byte : behaviour.extraBytes) {
            std::printf(" 0x%02X", static_cast<unsigned>(byte));
        }
    }
    std::printf(" after %g ms\n", behaviour.replyDelayMs);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed != 0) {
        return parsed < 0 ? 0 : parsed;
    }

    DevicePort port;
    std::string name = options.portWord;
    std::string error;
    const bool opened =
        name.empty() ? openOwnLine(port, name, error) : takeDevicePort(port, options.portWord, error);
    if (!opened) {
        std::fprintf(stderr, "velmoran-sim: %s\n", error.c_str());
        return 1;
    }
    watchForStop();
    requestPromptScheduling();
    std::printf("%s\n", name.c_str());
    std::fflush(stdout);

    constexpr int kPollSliceMs = 200;
    long served = 0;
    int status = 0;
    while (!stopRequested() && (options.frames == 0 || served < options.frames)) {
        // A device that misses a request and answers the next: what a script's retry is for.
        DeviceBehaviour behaviour = options.behaviour;
        behaviour.reply = behaviour.reply && served >= options.ignoreFirst;
        ExchangeRecord record;
        if (!serveFrame(port, behaviour, record, kPollSliceMs)) {
            if (record.lineGone) {
                std::fprintf(stderr, "velmoran-sim: %s went away\n", name.c_str());
                status = 1;
                break;
            }
            continue;
        }
        printFrameLine(record, behaviour);
        ++served;
    }
    if (options.portWord.empty()) {
        closeOwnLine(port);
    } else {
        releaseDevicePort(port);
    }
    stopCompleted();
    return status;
}
