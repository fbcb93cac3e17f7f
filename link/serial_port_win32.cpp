#include "serial_port.hpp"

#include <cstdio>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

struct PortBefore {
    DCB line {};
    COMMTIMEOUTS timeouts {};
    bool settingsKept = false;
};

void PortBeforeRelease::operator()(PortBefore* before) const
{
    delete before;
}

namespace {

HANDLE nativeHandle(const SerialPort& port)
{
    return reinterpret_cast<HANDLE>(port.handle);
}

// Bytes still queued for the line; 0 when the driver cannot tell.
DWORD pendingOutput(const SerialPort& port)
{
    DWORD errors = 0;
    COMSTAT status {};
    if (!ClearCommError(nativeHandle(port), &errors, &status)) {
        return 0;
    }
    return status.cbOutQue;
}

// One byte, ten bits with its start and stop bits, takes about 87 us at 115200 baud.
constexpr DWORD kByteTimeUs = 87;
constexpr DWORD kGiveBackMarginMs = 100;
// Once the driver's queue reads empty, the UART may still hold this much (a 16550's
// 16-byte FIFO, a 16750's 64, the shift register): Windows has no bounded wait for the
// hardware, so its time at 115200 baud is waited out.
constexpr DWORD kHardwareFifoMs = (65 * kByteTimeUs + 999) / 1000;

}  // namespace

void fillClosedStandardHandles()
{
}

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

PortRefusal takeSerialPort(SerialPort& port, const char* devicePath)
{
    // Share mode 0: no other program opens the port while it is held. Synchronous I/O.
    const HANDLE handle =
        CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return PortRefusal::CannotOpen;
    }
    port.handle = reinterpret_cast<std::intptr_t>(handle);
    port.before.reset(new PortBefore);
    return PortRefusal::None;
}

bool keepLineSettings(SerialPort& port)
{
    PortBefore& before = *port.before;
    before.line.DCBlength = sizeof before.line;
    before.settingsKept =
        GetCommState(nativeHandle(port), &before.line) && GetCommTimeouts(nativeHandle(port), &before.timeouts);
    return before.settingsKept;
}

bool setLine(SerialPort& port, FlowControl flowControl)
{
    // Every field but these stays as the port reports it; if it cannot be read, the
    // record goes back zeroed but for them.
    DCB line {};
    line.DCBlength = sizeof line;
    GetCommState(nativeHandle(port), &line);
    line.BaudRate = kLineBaudRate;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    if (flowControl == FlowControl::Off) {
        // Every byte value passes, no flow control either way, and the modem lines held
        // on, as a device's would be.
        line.fBinary = TRUE;
        line.fParity = FALSE;
        line.fOutxCtsFlow = FALSE;
        line.fOutxDsrFlow = FALSE;
        line.fDtrControl = DTR_CONTROL_ENABLE;
        line.fRtsControl = RTS_CONTROL_ENABLE;
        line.fDsrSensitivity = FALSE;
        line.fOutX = FALSE;
        line.fInX = FALSE;
        line.fErrorChar = FALSE;
        line.fNull = FALSE;
        line.fAbortOnError = FALSE;
    }
    return SetCommState(nativeHandle(port), &line) != 0;
}

bool awaitOutputSent(const SerialPort& port, unsigned timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (pendingOutput(port) > 0) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

void giveBackSerialPort(SerialPort& port)
{
    if (port.handle == -1) {
        return;
    }
    if (port.before && port.before->settingsKept) {
        // After the last bytes written are on the wire, so that the old settings cannot cut
        // them; a peer that never takes them does not hold the port.
        const DWORD waitMs = pendingOutput(port) * kByteTimeUs / 1000 + kGiveBackMarginMs;
        if (awaitOutputSent(port, waitMs)) {
            Sleep(kHardwareFifoMs);
        } else {
            PurgeComm(nativeHandle(port), PURGE_TXABORT | PURGE_TXCLEAR);
        }
        SetCommState(nativeHandle(port), &port.before->line);
        SetCommTimeouts(nativeHandle(port), &port.before->timeouts);
    }
    port.before.reset();
    // Closing the handle ends the share-mode-0 hold.
    CloseHandle(nativeHandle(port));
    port.handle = -1;
}
