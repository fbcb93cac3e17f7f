#include "open_failure.hpp"

#include <cstddef>

std::string oneLineAscii(const std::string& text, std::size_t longest)
{
    std::string line;
    for (const char c : text) {
        if (line.size() == longest) {
            line += "...";
            break;
        }
        line += c >= ' ' && c <= '~' ? c : '?';
    }
    return line;
}

std::string notAPortLine(PortRefusal refusal, const std::string& path)
{
    if (refusal == PortRefusal::NotATerminal) {
        return "velmoran: " + path + " is not a serial port (not a terminal device): give the CAN interface's port.";
    }
    if (refusal == PortRefusal::OwnTerminal) {
        return "velmoran: " + path + " is the terminal velmoran was started from: give the CAN interface's port.";
    }
    return std::string();
}

std::string inUseLine(const std::string& path, const std::vector<std::string>& holders)
{
    std::string by = "another program";
    if (!holders.empty()) {
        by = holders.size() == 1 ? "another program, " : "other programs, ";
        for (std::size_t index = 0; index < holders.size(); ++index) {
            by += (index == 0 ? "" : ", ") + holders[index];
        }
    }
    return "velmoran: " + path + " is in use by " + by + ": close it, then run again.";
}

std::string namesNoPortLine(const std::string& word, const std::string& firstPort)
{
    return "velmoran: " + word + " names no port: COM numbers start at 1" +
           (firstPort.empty() ? std::string() : ", and COM1 is " + firstPort + " here") + ".";
}

std::string presentPortsLine(const std::vector<PresentPort>& ports)
{
    if (ports.empty()) {
        return "velmoran: no serial port is present on this PC: the adapter is unplugged, or its driver is missing.";
    }
    std::string line = "velmoran: the serial ports here are ";
    for (std::size_t index = 0; index < ports.size() && index < kMostPortsListed; ++index) {
        line += index == 0 ? "" : ", ";
        line += oneLineAscii(ports[index].name, 64);
        if (!ports[index].alsoNamed.empty()) {
            line += " (" + oneLineAscii(ports[index].alsoNamed, 120) + ")";
        }
    }
    if (ports.size() > kMostPortsListed) {
        line += " and " + std::to_string(ports.size() - kMostPortsListed) + " more";
    }
    return line + ".";
}

bool comesBeforeNaturally(const std::string& left, const std::string& right)
{
    std::size_t l = 0;
    std::size_t r = 0;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (l < left.size() && r < right.size()) {
        if (isDigit(left[l]) && isDigit(right[r])) {
            std::size_t lEnd = l;
            std::size_t rEnd = r;
            while (lEnd < left.size() && left[lEnd] == '0') {
                ++lEnd;
            }
            while (rEnd < right.size() && right[rEnd] == '0') {
                ++rEnd;
            }
            std::size_t lDigits = lEnd;
            std::size_t rDigits = rEnd;
            while (lDigits < left.size() && isDigit(left[lDigits])) {
                ++lDigits;
            }
            while (rDigits < right.size() && isDigit(right[rDigits])) {
                ++rDigits;
            }
            // Fewer significant digits is the smaller number; as many, the first that differs.
            if (lDigits - lEnd != rDigits - rEnd) {
                return lDigits - lEnd < rDigits - rEnd;
            }
            const int compared = left.compare(lEnd, lDigits - lEnd, right, rEnd, rDigits - rEnd);
            if (compared != 0) {
                return compared < 0;
            }
            l = lDigits;
            r = rDigits;
            continue;
        }
        if (left[l] != right[r]) {
            return left[l] < right[r];
        }
        ++l;
        ++r;
    }
    return left.size() - l < right.size() - r;
}
