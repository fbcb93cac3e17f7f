// velmoran-sim: a stand-in CAN interface, for rehearsing velmoran and download scripts
// with no target attached: on a port of a null-modem pair (two virtual COM ports joined
// in the driver, or two adapters joined by a cable), or on POSIX on a pseudo-terminal
// that it makes itself. Whatever ends it, the port it took is given back first.

#include <cstdio>
#include <string>

#include "device_port.hpp"
#include "exchange.hpp"
#include "options.hpp"
#include "stop_requests.hpp"

namespace {

void reportOutputGone()
{
    std::fprintf(stderr, "velmoran-sim: its output is closed; stopping\n");
}

// One line per frame; false once the output is gone.
bool printFrameLine(const ExchangeRecord& record, const DeviceBehaviour& behaviour)
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
    if (!record.replied) {
        std::printf(behaviour.reply ? ", stopped before replying\n" : ", no reply\n");
        return std::fflush(stdout) == 0;
    }
    if (behaviour.holdLineLow) {
        std::printf(", held the line low after %g ms\n", behaviour.replyDelayMs);
        return std::fflush(stdout) == 0;
    }
    std::printf(", replied 0x%02X", static_cast<unsigned>(behaviour.replyByte));
    if (!behaviour.extraBytes.empty()) {
        std::printf(" then");
        for (std::uint8_t byte : behaviour.extraBytes) {
            std::printf(" 0x%02X", static_cast<unsigned>(byte));
        }
    }
    std::printf(" after %g ms\n", behaviour.replyDelayMs);
    return std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Before anything is opened, the wake-up pipe of the stop watch included.
    fillClosedStandardHandles();
    SimOptions options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed != 0) {
        return parsed < 0 ? 0 : parsed;
    }

    // Before the port is taken, so that no stop can come between the take and the watch.
    watchForStop();
    SerialPort port;
    std::string name = options.portWord;
    std::string error;
    const bool opened =
        name.empty() ? openOwnLine(port, name, error) : takeDevicePort(port, options.portWord, error);
    if (!opened) {
        std::fprintf(stderr, "velmoran-sim: %s\n", error.c_str());
        endAsStopped();
        return 1;
    }
    requestPromptScheduling();
    std::printf("%s\n", name.c_str());
    int status = 0;
    if (std::fflush(stdout) != 0) {
        reportOutputGone();
        status = 1;
    }

    constexpr int kPollSliceMs = 200;
    long served = 0;
    while (status == 0 && !stopRequested() && (options.frames == 0 || served < options.frames)) {
        // A device that misses a request and answers the next: what a script's retry is for.
        DeviceBehaviour behaviour = options.behaviour;
        behaviour.reply = behaviour.reply && served >= options.ignoreFirst;
        ExchangeRecord record;
        if (!serveFrame(port, behaviour, record, kPollSliceMs)) {
            if (record.lineGone) {
                std::fprintf(stderr, "velmoran-sim: %s went away\n", name.c_str());
                status = 1;
            }
            continue;
        }
        if (!printFrameLine(record, behaviour)) {
            reportOutputGone();
            status = 1;
        }
        ++served;
    }
    endPromptScheduling();
    if (options.portWord.empty()) {
        closeOwnLine(port);
    } else {
        giveBackSerialPort(port);
    }
    endAsStopped();
    return status;
}
