#include "run_sequence.hpp"

#include "messages.hpp"
#include "process_setup.hpp"
#include "word_parsing.hpp"

#include "../explain/bridge_latency.hpp"
#include "../explain/no_acknowledgment.hpp"
#include "../explain/open_failure.hpp"
#include "../link/request_frame.hpp"
#include "../link/serial_link.hpp"

namespace {

constexpr int kMinWordCount = 3;
constexpr int kMaxWordCount = 3 + static_cast<int>(kMaxDataBytes);
constexpr int kFirstDataPosition = 3;

// Reads the ID and data words into the request. On failure prints the message
// and gives its status; Ok means every word was read.
ExitStatus readIdAndData(int wordCount, const char* const* words, SendRequest& request)
{
    const HexWord id = parseHexWord(words[2]);
    if (id.status != HexWordStatus::Valid) {
        printBadId(words[2]);
        return ExitStatus::BadIdArgument;
    }
    request.arbitrationId = id.value;

    for (int position = kFirstDataPosition; position < wordCount; ++position) {
        const HexWord data = parseHexWord(words[position]);
        if (data.status == HexWordStatus::NotHex) {
            printBadData(position, words[position]);
            return ExitStatus::BadDataArgument;
        }
        // A value too wide for 32 bits is above 0xFF as surely as 0x100 is.
        if (data.status == HexWordStatus::TooWide || data.value > 0xFFu) {
            printDataByteTooLarge(position, words[position]);
            return ExitStatus::DataByteTooLarge;
        }
        request.data[request.dataCount++] = static_cast<std::uint8_t>(data.value);
    }
    return ExitStatus::Ok;
}

// From the open to the close: every outcome of a port that could be opened lets it go.
// A port that could not be opened is described in `failure`, to be explained later.
ExitStatus exchangeOnPort(int wordCount, const char* const* words, SendRequest& request, bool devicePath,
                          OpenFailure& failure)
{
    const char* portWord = words[1];
    SerialLink link;
    const bool opened = devicePath ? link.openDevicePath(portWord) : link.open(request.portNumber);
    if (!opened) {
        printPortOpenFailed(portWord);
        failure.portWord = portWord;
        const ComPortPath comPath = comPortPath(request.portNumber);
        failure.devicePath = devicePath ? portWord : comPath.exists ? comPath.text : "";
        failure.refusal = link.refusal;
        failure.systemError = link.systemError;
        return ExitStatus::PortOpenFailed;
    }
    printPortOpened(portWord);

    const ExitStatus argumentStatus = readIdAndData(wordCount, words, request);
    if (argumentStatus != ExitStatus::Ok) {
        // Nothing was configured or sent; the port is let go untouched.
        link.close();
        return argumentStatus;
    }

    const RequestFrame frame = encodeRequestFrame(request);
    link.configure();
    link.clearReceived();
    link.startCountingLineErrors();
    link.send(frame);
    printSent(request.arbitrationId, request.data, request.dataCount);

    const Acknowledgment acknowledgment = link.awaitAcknowledgment();
    if (acknowledgment.received) {
        printReceived(acknowledgment.value);
    } else {
        printNoAcknowledgment();
        // Only now, so that an acknowledged run costs nothing more; and while the port is
        // held, since Linux's driver shows the timer of the run, not the one after it.
        NoAcknowledgmentEvidence evidence;
        evidence.portWord = portWord;
        evidence.late = link.listenForLateReply();
        evidence.errors = link.lineErrorsDuringRun();
        evidence.latency = findBridgeLatency(link.port, request.portNumber);
        if (nothingCameBack(evidence)) {
            evidence.portIs = describePort(link.port, request.portNumber);
        }
        printExplanation(explainNoAcknowledgment(evidence));
    }

    link.clearReceived();
    link.close();
    return acknowledgment.received ? ExitStatus::Ok : ExitStatus::NoAcknowledgment;
}

}  // namespace

ExitStatus runSequence(int wordCount, const char* const* words)
{
    printBanner();
    if (wordCount < kMinWordCount || wordCount > kMaxWordCount) {
        printWrongArgumentCount(wordCount);
        printUsage();
        return ExitStatus::WrongArgumentCount;
    }

    const char* portWord = words[1];
    SendRequest request;
    const bool devicePath = isDevicePathWord(portWord);
    if (!devicePath) {
        const PortWord port = parsePortWord(portWord);
        if (!port.valid) {
            printBadPort(portWord);
            return ExitStatus::BadPortArgument;
        }
        request.portNumber = port.portNumber;
    }

    holdStopRequests();
    OpenFailure failure;
    const ExitStatus status = exchangeOnPort(wordCount, words, request, devicePath, failure);
    releaseStopRequests();
    // Only now, so that a run that opens its port looks nothing up; and with no port held,
    // a stop asked for during the lookups ends the run at once.
    if (status == ExitStatus::PortOpenFailed) {
        printExplanation(explainOpenFailure(failure));
    }
    return status;
}
