#include "serial_link.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

HANDLE nativeHandle(const SerialLink& link)
{
    return reinterpret_cast<HANDLE>(link.port.handle);
}

long long performanceCounterNow()
{
    LARGE_INTEGER now {};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double millisecondsSince(long long start)
{
    LARGE_INTEGER frequency {};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(performanceCounterNow() - start) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

bool SerialLink::open(std::int32_t portNumber)
{
    refusal = takeSerialPort(port, comPortPath(portNumber).text);
    systemError = static_cast<long>(GetLastError());
    return refusal == PortRefusal::None;
}

bool SerialLink::openDevicePath(const char*)
{
    return false;
}

void SerialLink::configure()
{
    // Time-outs first, then the line; the outcome of neither is examined.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = kReadIntervalTimeoutMs;
    timeouts.ReadTotalTimeoutMultiplier = kReadTotalTimeoutMultiplierMs;
    timeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTotalTimeoutMultiplierMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutConstantMs;
    SetCommTimeouts(nativeHandle(*this), &timeouts);
    setLine(port, FlowControl::AsThePortHadIt);
}

void SerialLink::clearReceived()
{
    PurgeComm(nativeHandle(*this), PURGE_RXCLEAR);
}

void SerialLink::startCountingLineErrors()
{
    // Reading the error flags also clears those left from before the run.
    DWORD errors = 0;
    errorsBefore = LineErrors {};
    errorsBefore.known = ClearCommError(nativeHandle(*this), &errors, nullptr) != 0;
}

void SerialLink::send(const RequestFrame& frame)
{
    DWORD written = 0;
    WriteFile(nativeHandle(*this), frame.bytes, static_cast<DWORD>(frame.length), &written, nullptr);
}

Acknowledgment SerialLink::awaitAcknowledgment()
{
    Acknowledgment acknowledgment;
    BYTE value = 0;
    DWORD count = 0;
    windowOpenedAt = performanceCounterNow();
    // A failed read leaves the count at zero: no acknowledgment.
    ReadFile(nativeHandle(*this), &value, 1, &count, nullptr);
    if (count == 1) {
        acknowledgment.received = true;
        acknowledgment.value = value;
    }
    return acknowledgment;
}

LateReply SerialLink::listenForLateReply()
{
    LateReply late;
    const double listenedMs = static_cast<double>(kAcknowledgmentWindowMs + kLateListeningMs);
    const double leftMs = listenedMs - millisecondsSince(windowOpenedAt);
    // One byte asked for with a total time-out, as the window reads: the read returns as
    // that byte comes.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadTotalTimeoutConstant = leftMs >= 1.0 ? static_cast<DWORD>(leftMs + 0.5) : 1;
    BYTE bytes[64];
    DWORD count = 0;
    if (!SetCommTimeouts(nativeHandle(*this), &timeouts)) {
        return late;
    }
    if (!ReadFile(nativeHandle(*this), bytes, 1, &count, nullptr)) {
        // What a port whose adapter was pulled out gives.
        late.lineGone = true;
        return late;
    }
    if (count == 0) {
        return late;
    }
    late.afterMs = millisecondsSince(windowOpenedAt);
    late.received = true;
    late.firstValue = bytes[0];
    // Then, at once, what came with it: with only the interval at MAXDWORD a read returns
    // what is there without waiting.
    timeouts = COMMTIMEOUTS {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    DWORD more = 0;
    if (SetCommTimeouts(nativeHandle(*this), &timeouts)) {
        ReadFile(nativeHandle(*this), bytes + 1, sizeof bytes - 1, &more, nullptr);
    }
    late.count = 1 + static_cast<unsigned>(more);
    return late;
}

LineErrors SerialLink::lineErrorsDuringRun()
{
    LineErrors during;
    DWORD errors = 0;
    if (!errorsBefore.known || !ClearCommError(nativeHandle(*this), &errors, nullptr)) {
        return during;
    }
    // Windows flags an error kind once, however often it came.
    during.known = true;
    during.breaks = (errors & CE_BREAK) != 0 ? 1 : 0;
    during.framing = (errors & CE_FRAME) != 0 ? 1 : 0;
    during.parity = (errors & CE_RXPARITY) != 0 ? 1 : 0;
    during.overrun = (errors & (CE_OVERRUN | CE_RXOVER)) != 0 ? 1 : 0;
    return during;
}

void SerialLink::close()
{
    giveBackSerialPort(port);
}
