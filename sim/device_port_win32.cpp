#include "device_port.hpp"

#include "serial_link.hpp"
#include "word_parsing.hpp"

#include <cstring>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

HANDLE nativeHandle(const DevicePort& port)
{
    return reinterpret_cast<HANDLE>(port.handle);
}

// A port's settings as they were, to put back: its line and its time-outs.
struct SavedLine {
    DCB line;
    COMMTIMEOUTS timeouts;
};

std::string systemMessage(DWORD code)
{
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

bool refuse(HANDLE handle, std::string& error, const std::string& why)
{
    error = why + ": " + systemMessage(GetLastError());
    CloseHandle(handle);
    return false;
}

}  // namespace

bool takeDevicePort(DevicePort& port, const std::string& word, std::string& error)
{
    const PortWord com = parsePortWord(word.c_str());
    if (!com.valid || com.portNumber < 1) {
        error = "'" + word + "' is not a COM port word (COM1, COM21, ...)";
        return false;
    }
    // Share mode 0: no other program opens the port while the stand-in has it.
    const HANDLE handle = CreateFileA(comPortPath(com.portNumber).text, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = "cannot open " + word + ": " + systemMessage(GetLastError());
        return false;
    }
    SavedLine before {};
    before.line.DCBlength = sizeof before.line;
    if (!GetCommState(handle, &before.line) || !GetCommTimeouts(handle, &before.timeouts)) {
        return refuse(handle, error, "cannot read the settings of " + word);
    }
    DCB line = before.line;
    line.BaudRate = CBR_115200;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    // No flow control either way; the modem lines held on, as a device's would be.
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
    if (!SetCommState(handle, &line)) {
        return refuse(handle, error, "cannot set up " + word);
    }
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    port.handle = reinterpret_cast<std::intptr_t>(handle);
    port.readTimeoutMs = -2;
    port.savedSettings.assign(reinterpret_cast<const unsigned char*>(&before),
                              reinterpret_cast<const unsigned char*>(&before) + sizeof before);
    return true;
}

void releaseDevicePort(DevicePort& port)
{
    if (port.handle == -1) {
        return;
    }
    if (port.savedSettings.size() == sizeof(SavedLine)) {
        SavedLine before {};
        std::memcpy(&before, port.savedSettings.data(), sizeof before);
        // After the last reply has left, so that putting the settings back cannot cut it.
        FlushFileBuffers(nativeHandle(port));
        SetCommState(nativeHandle(port), &before.line);
        SetCommTimeouts(nativeHandle(port), &before.timeouts);
        port.savedSettings.clear();
    }
    CloseHandle(nativeHandle(port));
    port.handle = -1;
}

DeviceRead readDevice(DevicePort& port, std::vector<std::uint8_t>& sink, int timeoutMs)
{
    if (port.readTimeoutMs != timeoutMs) {
        // A read returns once it has the bytes it asked for, or after the constant. (The
        // documented "return at once with what is there" mode waits out the constant
        // under Wine.)
        COMMTIMEOUTS timeouts {};
        timeouts.ReadTotalTimeoutConstant = timeoutMs < 0 ? MAXDWORD - 1 : (timeoutMs == 0 ? 1 : timeoutMs);
        timeouts.WriteTotalTimeoutConstant = 1000;
        if (!SetCommTimeouts(nativeHandle(port), &timeouts)) {
            return DeviceRead::Gone;
        }
        port.readTimeoutMs = timeoutMs;
    }
    // What is there already, or else the first byte to come.
    DWORD errors = 0;
    COMSTAT status {};
    if (!ClearCommError(nativeHandle(port), &errors, &status)) {
        return DeviceRead::Gone;
    }
    std::uint8_t buffer[256];
    const DWORD wanted = status.cbInQue == 0 ? 1 : (status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer);
    DWORD count = 0;
    if (!ReadFile(nativeHandle(port), buffer, wanted, &count, nullptr)) {
        return DeviceRead::Gone;
    }
    if (count == 0) {
        return DeviceRead::Quiet;
    }
    sink.insert(sink.end(), buffer, buffer + count);
    return DeviceRead::Bytes;
}

void writeDevice(const DevicePort& port, const std::uint8_t* bytes, std::size_t count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(nativeHandle(port), bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
            return;
        }
        bytes += written;
        count -= written;
    }
}
