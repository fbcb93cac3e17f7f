// velmoran-sim: a stand-in CAN interface on a pseudo-terminal, for rehearsing
// velmoran and download scripts with no hardware attached.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exchange.hpp"
#include "standin_port.hpp"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int)
{
    stopRequested = 1;
}

void printHelp()
{
    std::puts(
        "Usage: velmoran-sim [options]\n"
        "Plays the CAN interface on a new pseudo-terminal. The first line printed is the\n"
        "terminal's path: give it to velmoran as the port word. Then one line per frame.\n"
        "\n"
        "Options:\n"
        "  --reply-byte HEX   the acknowledgment byte to answer with (default 06)\n"
        "  --delay MS         wait this many milliseconds before replying (default 0)\n"
        "  --silent           never reply\n"
        "  --extra HEX,...    bytes to send straight after the reply byte\n"
        "  --frames N         serve N frames, then exit (default: until interrupted)\n"
        "  --help             show this text");
}

bool parseByte(const char* text, std::uint8_t& value)
{
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 16);
    if (end == text || *end != '\0' || parsed > 0xFF) {
        return false;
    }
    value = static_cast<std::uint8_t>(parsed);
    return true;
}

bool parseCount(const char* text, long& value)
{
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0 && value <= 1000000000L;
}

bool parseByteList(const char* text, std::vector<std::uint8_t>& bytes)
{
    std::string list = text;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = list.find(',', start);
        const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::uint8_t value = 0;
        if (!parseByte(item.c_str(), value)) {
            return false;
        }
        bytes.push_back(value);
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return true;
}

struct SimOptions {
    DeviceBehaviour behaviour;
    long frames = 0;  // 0: until interrupted
};

// Gives 0 to go on, or the process exit code to stop with.
int parseOptions(int argc, char** argv, SimOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool valid = true;
        if (option == "--help") {
            printHelp();
            return -1;
        } else if (option == "--silent") {
            options.behaviour.reply = false;
            continue;
        } else if (value == nullptr) {
            valid = false;
        } else if (option == "--reply-byte") {
            valid = parseByte(value, options.behaviour.replyByte);
        } else if (option == "--delay") {
            long delay = 0;
            valid = parseCount(value, delay);
            options.behaviour.replyDelayMs = static_cast<int>(delay);
        } else if (option == "--extra") {
            valid = parseByteList(value, options.behaviour.extraBytes);
        } else if (option == "--frames") {
            valid = parseCount(value, options.frames);
        } else {
            valid = false;
        }
        if (!valid) {
            std::fprintf(stderr, "velmoran-sim: bad option or value: %s\n", option.c_str());
            return 2;
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
    if (behaviour.reply) {
        std::printf(", replied 0x%02X\n", static_cast<unsigned>(behaviour.replyByte));
    } else {
        std::printf(", no reply\n");
    }
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

    StandInPort port;
    std::string error;
    if (!openStandInPort(port, error)) {
        std::fprintf(stderr, "velmoran-sim: %s\n", error.c_str());
        return 1;
    }

    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);

    requestPromptScheduling();
    std::printf("%s\n", port.terminalPath.c_str());
    std::fflush(stdout);

    constexpr int kPollSliceMs = 200;
    long served = 0;
    while (!stopRequested && (options.frames == 0 || served < options.frames)) {
        ExchangeRecord record;
        if (!serveExchange(port, options.behaviour, record, kPollSliceMs)) {
            continue;
        }
        printFrameLine(record, options.behaviour);
        ++served;
    }
    waitUntilLineReleased(port, 1000);
    closeStandInPort(port);
    return 0;
}
