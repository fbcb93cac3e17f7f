#include "device_port.hpp"

#include "pseudo_terminal.hpp"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int fd(const SerialPort& port)
{
    return static_cast<int>(port.handle);
}

// The stand-in's own line, when it serves one.
PseudoTerminal ownLine;

std::string refusalText(PortRefusal refusal, const std::string& path, int systemError)
{
    switch (refusal) {
    case PortRefusal::CannotOpen:
        return "cannot open " + path + ": " + std::strerror(systemError);
    case PortRefusal::NotATerminal:
        return path + " is not a terminal device";
    case PortRefusal::OwnTerminal:
        return path + " is the terminal velmoran-sim runs on";
    case PortRefusal::HeldByAnother:
        return path + " is held by another program";
    case PortRefusal::None:
        break;
    }
    return "";
}

}  // namespace

bool takeDevicePort(SerialPort& port, const std::string& word, std::string& error)
{
    const std::string path =
        isDevicePathWord(word.c_str()) ? word : comPortPath(parsePortWord(word.c_str()).portNumber).text;
    const PortRefusal refusal = takeSerialPort(port, path.c_str());
    if (refusal != PortRefusal::None) {
        error = refusalText(refusal, path, errno);
        return false;
    }
    if (!keepLineSettings(port)) {
        error = "cannot read the settings of " + path + ": " + std::strerror(errno);
        giveBackSerialPort(port);
        return false;
    }
    if (!setLine(port, FlowControl::Off)) {
        error = "cannot set up " + path + ": " + std::strerror(errno);
        giveBackSerialPort(port);
        return false;
    }
    tcflush(fd(port), TCIOFLUSH);
    return true;
}

bool openOwnLine(SerialPort& device, std::string& name, std::string& error)
{
    if (!openPseudoTerminal(ownLine, error)) {
        return false;
    }
    device = std::move(ownLine.device);
    ownLine.device.handle = -1;
    name = ownLine.terminalPath;
    return true;
}

void closeOwnLine(SerialPort& device)
{
    waitUntilLineReleased(ownLine, 1000);
    giveBackSerialPort(device);
    closePseudoTerminal(ownLine);
}

DeviceRead readDevice(SerialPort& port, std::vector<std::uint8_t>& sink, int timeoutMs)
{
    pollfd readable {fd(port), POLLIN, 0};
    const int ready = poll(&readable, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return DeviceRead::Quiet;
    }
    std::uint8_t buffer[256];
    const ssize_t count = ready > 0 ? ::read(fd(port), buffer, sizeof buffer) : -1;
    if (count > 0) {
        sink.insert(sink.end(), buffer, buffer + count);
        return DeviceRead::Bytes;
    }
    return count < 0 && (errno == EAGAIN || errno == EINTR) ? DeviceRead::Quiet : DeviceRead::Gone;
}

void writeDevice(const SerialPort& port, const std::uint8_t* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = ::write(fd(port), bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        } else if (written < 0 && errno == EAGAIN) {
            pollfd writable {fd(port), POLLOUT, 0};
            poll(&writable, 1, 10);
        }
    }
}

void setLineBreak(const SerialPort& port, bool on)
{
    // Rather than tcsendbreak, whose length Linux fixes at 0.25 s and other systems each choose.
    ioctl(fd(port), on ? TIOCSBRK : TIOCCBRK);
}

void requestPromptScheduling()
{
    // Where the machine refuses, the thread runs as it is. Not for a thread that floods.
    sched_param priority {};
    priority.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
}

void endPromptScheduling()
{
    sched_param priority {};
    priority.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &priority);
}
