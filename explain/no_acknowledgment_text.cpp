#include "no_acknowledgment.hpp"

#include <cstdio>

#include "open_failure.hpp"  // oneLineAscii

namespace {

std::string number(double value, const char* format)
{
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "3 framing errors", "a framing error"; where the driver only flags a kind, "framing errors".
std::string countOf(unsigned long count, bool counted, const char* one, const char* many)
{
    if (!counted) {
        return many;
    }
    return count == 1 ? std::string("a ") + one : std::to_string(count) + " " + many;
}

std::string bridgeLatencyLine(const std::string& port, unsigned latencyMs)
{
    return "velmoran: " + port + " is an FTDI USB serial port whose latency timer is " + std::to_string(latencyMs) +
           " ms, too long for the " + std::to_string(kAcknowledgmentWindowMs) +
           " ms reply window: a reply can arrive too late. Set it to 1 ms (see the README, Troubleshooting).";
}

bool timerTooLong(const BridgeLatency& latency)
{
    return latency.known && latency.milliseconds > kLongestLatencyTheWindowAbsorbsMs;
}

std::string lateReplyLine(const std::string& port, const LateReply& late, const BridgeLatency& latency)
{
    char value[8];
    std::snprintf(value, sizeof value, "0x%02X", static_cast<unsigned>(late.firstValue));
    std::string line = "velmoran: a reply came late on " + port + ": " + value;
    if (late.count > 1) {
        line += " with " + std::to_string(late.count - 1) + (late.count == 2 ? " more byte" : " more bytes");
    }
    const double past = late.afterMs - kAcknowledgmentWindowMs;
    line += ", " + number(late.afterMs, "%.1f") + " ms after the frame went out, " + number(past > 0 ? past : 0, "%.1f") +
            " ms past the " + std::to_string(kAcknowledgmentWindowMs) + " ms window; it was not taken.";
    line += " A device on this port answers; what holds a reply up is ";
    if (timerTooLong(latency)) {
        line += "the FTDI latency timer above, or an adapter that answers only after its CAN frame went out.";
    } else {
        line += "a USB serial bridge that keeps bytes before passing them on, or an adapter that answers only after "
                "its CAN frame went out.";
    }
    return line;
}

}  // namespace

bool nothingCameBack(const NoAcknowledgmentEvidence& evidence)
{
    const LineErrors& errors = evidence.errors;
    const bool errorSeen = errors.known && (errors.breaks + errors.framing + errors.parity + errors.overrun) > 0;
    return !evidence.late.received && !evidence.late.lineGone && !errorSeen;
}

std::vector<std::string> explainNoAcknowledgment(const NoAcknowledgmentEvidence& evidence)
{
    std::vector<std::string> lines;
    const std::string port = oneLineAscii(evidence.portWord);
    if (timerTooLong(evidence.latency)) {
        lines.push_back(bridgeLatencyLine(port, evidence.latency.milliseconds));
    }
    if (evidence.late.received) {
        lines.push_back(lateReplyLine(port, evidence.late, evidence.latency));
    }
    if (evidence.late.lineGone) {
        lines.push_back("velmoran: " + port + " hung up or failed during the run, as a port does when its adapter is "
                        "pulled out or loses power: is it plugged in and powered?");
    }
    const LineErrors& errors = evidence.errors;
    if (errors.known && errors.breaks > 0) {
        lines.push_back("velmoran: the line into " + port + " was held low during the run (" +
                        countOf(errors.breaks, errors.counted, "break", "breaks") +
                        "): is the adapter powered, and is its transmit line wired to this port's receive line?");
    }
    if (errors.known && errors.framing + errors.parity > 0) {
        std::string seen;
        if (errors.framing > 0) {
            seen = countOf(errors.framing, errors.counted, "framing error", "framing errors");
        }
        if (errors.parity > 0) {
            seen += (seen.empty() ? "" : ", ") + countOf(errors.parity, errors.counted, "parity error", "parity errors");
        }
        lines.push_back("velmoran: " + port + " received bytes that were not 115200 baud 8N1 (" + seen +
                        "): is the adapter set to another speed, or is the cable noisy?");
    }
    if (errors.known && errors.overrun > 0) {
        lines.push_back("velmoran: " + port + " lost received bytes before velmoran could read them (" +
                        countOf(errors.overrun, errors.counted, "overrun", "overruns") +
                        "): the PC did not keep up; close what loads it, and try again.");
    }
    if (nothingCameBack(evidence)) {
        const std::string what = evidence.portIs.empty() ? std::string() : ", " + oneLineAscii(evidence.portIs, 160) + ",";
        lines.push_back("velmoran: nothing came back on " + port + what + " in the " +
                        std::to_string(kAcknowledgmentWindowMs + kLateListeningMs) +
                        " ms after the frame went out: is this the CAN interface's port, and is the adapter powered "
                        "and on the bus?");
    }
    return lines;
}
