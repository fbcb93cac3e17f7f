#include "device_port.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

HANDLE nativeHandle(const SerialPort& port)
{
    return reinterpret_cast<HANDLE>(port.handle);
}

// The read time-out in force on the port, so that it is set only when it changes.
HANDLE timedPort = nullptr;
int timedReadMs = -2;

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

bool refuse(SerialPort& port, std::string& error, const std::string& why)
{
    error = why + ": " + systemMessage(GetLastError());
    giveBackSerialPort(port);
    return false;
}

}  // namespace

bool takeDevicePort(SerialPort& port, const std::string& word, std::string& error)
{
    const ComPortPath path = comPortPath(parsePortWord(word.c_str()).portNumber);
    if (takeSerialPort(port, path.text) != PortRefusal::None) {
        error = "cannot open " + word + ": " + systemMessage(GetLastError());
        return false;
    }
    if (!keepLineSettings(port)) {
        return refuse(port, error, "cannot read the settings of " + word);
    }
    if (!setLine(port, FlowControl::Off)) {
        return refuse(port, error, "cannot set up " + word);
    }
    PurgeComm(nativeHandle(port), PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

bool openOwnLine(SerialPort&, std::string&, std::string& error)
{
    error = "a port word is needed: velmoran-sim COM21 plays the device on COM21 (see velmoran-sim --help)";
    return false;
}

void closeOwnLine(SerialPort&) {}

DeviceRead readDevice(SerialPort& port, std::vector<std::uint8_t>& sink, int timeoutMs)
{
    if (timedPort != nativeHandle(port) || timedReadMs != timeoutMs) {
        // A read returns once it has the bytes it asked for, or after the constant. (The
        // documented "return at once with what is there" mode waits out the constant
        // under Wine.)
        COMMTIMEOUTS timeouts {};
        timeouts.ReadTotalTimeoutConstant = timeoutMs < 0 ? MAXDWORD - 1 : (timeoutMs == 0 ? 1 : timeoutMs);
        timeouts.WriteTotalTimeoutConstant = 1000;
        if (!SetCommTimeouts(nativeHandle(port), &timeouts)) {
            return DeviceRead::Gone;
        }
        timedPort = nativeHandle(port);
        timedReadMs = timeoutMs;
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

void writeDevice(const SerialPort& port, const std::uint8_t* bytes, std::size_t count)
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

void setLineBreak(const SerialPort& port, bool on)
{
    if (on) {
        SetCommBreak(nativeHandle(port));
    } else {
        ClearCommBreak(nativeHandle(port));
    }
}

void requestPromptScheduling()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

void endPromptScheduling()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}
