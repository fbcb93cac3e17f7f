#include "device_port.hpp"

#include "low_latency.hpp"
#include "serial_link.hpp"
#include "word_parsing.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int fd(const DevicePort& port)
{
    return static_cast<int>(port.handle);
}

bool refuse(int descriptor, std::string& error, const std::string& why)
{
    error = why;
    ::close(descriptor);
    return false;
}

}  // namespace

bool takeDevicePort(DevicePort& port, const std::string& word, std::string& error)
{
    const PortWord com = parsePortWord(word.c_str());
    const ComPortPath comPath = comPortPath(com.portNumber);
    const bool named = com.valid && comPath.exists;
    const std::string path = named ? comPath.text : word;
    if (!named && word.compare(0, 1, "/") != 0) {
        error = "'" + word + "' is neither COMn nor a device path";
        return false;
    }
    const int descriptor = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!isatty(descriptor)) {
        return refuse(descriptor, error, path + " is not a terminal device");
    }
    if (tcgetpgrp(descriptor) != -1) {
        return refuse(descriptor, error, path + " is the terminal velmoran-sim runs from");
    }
    // Exclusive as velmoran takes a port: the same lock, and no other open meanwhile.
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        return refuse(descriptor, error, path + " is held by another program");
    }
    termios before {};
    if (tcgetattr(descriptor, &before) != 0) {
        return refuse(descriptor, error, "cannot read the settings of " + path + ": " + std::strerror(errno));
    }
    termios line = before;
    cfmakeraw(&line);
    cfsetispeed(&line, B115200);
    cfsetospeed(&line, B115200);
    // 8N1 with the receiver on, no flow control either way, modem lines ignored.
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= CS8 | CREAD | CLOCAL;
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    if (tcsetattr(descriptor, TCSANOW, &line) != 0) {
        return refuse(descriptor, error, "cannot set up " + path + ": " + std::strerror(errno));
    }
    ioctl(descriptor, TIOCEXCL);
    tcflush(descriptor, TCIOFLUSH);
    port.handle = descriptor;
    port.savedSettings.assign(reinterpret_cast<const unsigned char*>(&before),
                              reinterpret_cast<const unsigned char*>(&before) + sizeof before);
    // A USB bridge would otherwise hold the frame up to 16 ms: most of velmoran's window.
    port.lowLatencySet = requestLowLatency(descriptor);
    return true;
}

void releaseDevicePort(DevicePort& port)
{
    if (port.handle < 0) {
        return;
    }
    if (port.lowLatencySet) {
        releaseLowLatency(fd(port));
        port.lowLatencySet = false;
    }
    if (port.savedSettings.size() == sizeof(termios)) {
        termios before {};
        std::memcpy(&before, port.savedSettings.data(), sizeof before);
        // After the last reply has left, so that putting the settings back cannot cut it.
        tcdrain(fd(port));
        tcsetattr(fd(port), TCSANOW, &before);
        port.savedSettings.clear();
    }
    ioctl(fd(port), TIOCNXCL);
    ::close(fd(port));
    port.handle = -1;
}

DeviceRead readDevice(DevicePort& port, std::vector<std::uint8_t>& sink, int timeoutMs)
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

void writeDevice(const DevicePort& port, const std::uint8_t* bytes, std::size_t count)
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
