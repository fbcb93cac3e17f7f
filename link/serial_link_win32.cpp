#include "serial_link.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

HANDLE nativeHandle(const SerialLink& link)
{
    return reinterpret_cast<HANDLE>(link.port.handle);
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
    // A failed read leaves the count at zero: no acknowledgment.
    ReadFile(nativeHandle(*this), &value, 1, &count, nullptr);
    if (count == 1) {
        acknowledgment.received = true;
        acknowledgment.value = value;
    }
    return acknowledgment;
}

void SerialLink::close()
{
    giveBackSerialPort(port);
}
