#include "pseudo_terminal.hpp"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

bool openPseudoTerminal(PseudoTerminal& line, std::string& error)
{
    const int controller = posix_openpt(O_RDWR | O_NOCTTY);
    line.device.handle = controller;
    if (controller < 0 || grantpt(controller) != 0 || unlockpt(controller) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        closePseudoTerminal(line);
        return false;
    }
    fcntl(controller, F_SETFD, FD_CLOEXEC);
    const char* name = ptsname(controller);
    if (name == nullptr) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        closePseudoTerminal(line);
        return false;
    }
    line.terminalPath = name;
    line.lineHolder = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.lineHolder < 0) {
        error = "cannot open " + line.terminalPath + ": " + std::strerror(errno);
        closePseudoTerminal(line);
        return false;
    }
    termios settings {};
    tcgetattr(line.lineHolder, &settings);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    tcsetattr(line.lineHolder, TCSANOW, &settings);
    return true;
}

void closePseudoTerminal(PseudoTerminal& line)
{
    if (line.lineHolder >= 0) {
        close(line.lineHolder);
        line.lineHolder = -1;
    }
    giveBackSerialPort(line.device);
}

bool lineReleased(const PseudoTerminal& line)
{
    if (flock(line.lineHolder, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    flock(line.lineHolder, LOCK_UN);
    return true;
}

void waitUntilLineReleased(const PseudoTerminal& line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!lineReleased(line) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
