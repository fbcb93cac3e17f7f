#include "options.hpp"

#include <cstdio>
#include <cstdlib>

#include "serial_port.hpp"

namespace {

void printHelp()
{
    std::puts(
        "Usage: velmoran-sim [PORT] [options]\n"
        "Plays the CAN interface on PORT, one end of a null-modem pair (COM21; on Linux and\n"
        "other POSIX systems also a device path such as /dev/ttyUSB1): velmoran then takes\n"
        "the other end. PORT is taken exclusively at 115200 8N1 and put back as it was\n"
        "whatever ends the stand-in (Ctrl-C, kill, a closed window, its output closed).\n"
        "Without PORT (not on Windows) it plays the device on a new pseudo-terminal. The\n"
        "first line printed is the line it serves, once it is ready: PORT, or the\n"
        "pseudo-terminal's path to give velmoran as its port word. Then one line per frame.\n"
        "\n"
        "Options:\n"
        "  --reply-byte HEX   the acknowledgment byte to answer with, 00 to FF (default 06)\n"
        "  --delay MS         wait this many milliseconds before replying (default 0)\n"
        "  --silent           never reply\n"
        "  --break            hold the line low for 200 ms (a break) in place of each reply,\n"
        "                     as an adapter without power or a crossed cable can\n"
        "  --ignore-first N   leave the first N frames unanswered, then answer as set\n"
        "  --extra HEX,...    bytes to send straight after the reply byte\n"
        "  --frames N         serve N frames (1 or more), then exit (default: until stopped)\n"
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

// Empty when the word names a port as velmoran names one.
std::string portWordProblem(const std::string& word)
{
    if (isDevicePathWord(word.c_str())) {
        return "";
    }
    const PortWord com = parsePortWord(word.c_str());
    if (!com.valid) {
        return "'" + word + "' names no port: give COMn (COM21) or, on Linux and other POSIX systems, a /dev/ path";
    }
    if (com.portNumber < 1) {
        return "'" + word + "' names no port: COM ports are numbered from 1";
    }
    return "";
}

int refuse(const std::string& what)
{
    std::fprintf(stderr, "velmoran-sim: %s; see velmoran-sim --help\n", what.c_str());
    return 2;
}

}  // namespace

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
        if (option == "--break") {
            options.behaviour.holdLineLow = true;
            continue;
        }
        if (option.compare(0, 1, "-") != 0) {
            if (!options.portWord.empty()) {
                return refuse("'" + option + "' is a second port: velmoran-sim serves one port at a time (" +
                              options.portWord + " came first)");
            }
            const std::string problem = portWordProblem(option);
            if (!problem.empty()) {
                return refuse(problem);
            }
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
            expected = "a count of 1 or more (leave --frames out to serve until stopped)";
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

