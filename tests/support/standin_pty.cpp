#include "standin_pty.hpp"

bool openStandInTerminal(StandInTerminal& port, std::string& error)
{
    if (!openPseudoTerminal(port, error)) {
        return false;
    }
    resetTerminalSettings(port, FreshPortFlavour::Linux);
    return true;
}

void resetTerminalSettings(const StandInTerminal& port, FreshPortFlavour flavour)
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

termios currentTerminalSettings(const StandInTerminal& port)
{
    termios settings {};
    tcgetattr(port.lineHolder, &settings);
    return settings;
}

void closeStandInTerminal(StandInTerminal& port)
{
    closePseudoTerminal(port);
}
