#include "standin_port.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

void closeDescriptor(int& descriptor)
{
    if (descriptor >= 0) {
        close(descriptor);
        descriptor = -1;
    }
}

}  // namespace

bool openStandInPort(StandInPort& port, std::string& error)
{
    int controller = posix_openpt(O_RDWR | O_NOCTTY);
    port.device.handle = controller;
    if (controller < 0 || grantpt(controller) != 0 || unlockpt(controller) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        closeStandInPort(port);
        return false;
    }
    fcntl(controller, F_SETFD, FD_CLOEXEC);
    const char* name = ptsname(controller);
    if (name == nullptr) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        closeStandInPort(port);
        return false;
    }
    port.terminalPath = name;
    port.lineHolder = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.lineHolder < 0) {
        error = "cannot open " + port.terminalPath + ": " + std::strerror(errno);
        closeStandInPort(port);
        return false;
    }
    resetTerminalSettings(port, FreshPortFlavour::Linux);
    return true;
}

void closeStandInPort(StandInPort& port)
{
    closeDescriptor(port.lineHolder);
    if (port.device.handle >= 0) {
        close(static_cast<int>(port.device.handle));
        port.device.handle = -1;
    }
}

void resetTerminalSettings(const StandInPort& port, FreshPortFlavour flavour)
{
    termios settings {};
    tcgetattr(port.lineHolder, &settings);
    // What the Linux serial drivers give a port that nobody has configured yet.
    settings.c_iflag = ICRNL | IXON;
    settings.c_oflag = OPOST | ONLCR;
    settings.c_cflag = CS8 | CREAD | HUPCL | CLOCAL;
    settings.c_lflag = ISIG | ICANON | ECHOE | ECHOK | ECHOCTL | ECHOKE | IEXTEN;
    if (flavour == FreshPortFlavour::Windows) {
        settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    }
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    tcsetattr(port.lineHolder, TCSANOW, &settings);
}

termios currentTerminalSettings(const StandInPort& port)
{
    termios settings {};
    tcgetattr(port.lineHolder, &settings);
    return settings;
}
