#include "serial_link.hpp"

#include <cstdio>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

HANDLE nativeHandle(const SerialLink& link)
{
    return reinterpret_cast<HANDLE>(link.handle);
}

}  // namespace

bool isDevicePathWord(const char*)
{
    return false;
}

ComPortPath comPortPath(std::int32_t portNumber)
{
    ComPortPath path;
    path.exists = true;
    std::snprintf(path.text, sizeof path.text, "\\\\.\\COM%ld", static_cast<long>(portNumber));
    return path;
}

bool SerialLink::open(std::int32_t portNumber)
{
    const HANDLE port = CreateFileA(comPortPath(portNumber).text, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle = reinterpret_cast<std::intptr_t>(port);
    return true;
}

bool SerialLink::openDevicePath(const char*)
{
    return false;
}

void SerialLink::configure()
{
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = kReadIntervalTimeoutMs;
    timeouts.ReadTotalTimeoutMultiplier = kReadTotalTimeoutMultiplierMs;
    timeouts.ReadTotalTimeoutConstant = kReadTotalTimeoutConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteTotalTimeoutMultiplierMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTotalTimeoutConstantMs;
    SetCommTimeouts(nativeHandle(*this), &timeouts);

    // Every field but these four stays as the port reports it; if it cannot be
    // read, the record goes back zeroed but for them.
    DCB line {};
    line.DCBlength = sizeof line;
    GetCommState(nativeHandle(*this), &line);
    line.BaudRate = kLineBaudRate;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    SetCommState(nativeHandle(*this), &line);
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
    if (handle == -1) {
        return;
    }
    CloseHandle(nativeHandle(*this));
    handle = -1;
}
