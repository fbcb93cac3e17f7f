#include "open_failure.hpp"

#include <cstring>

// POSIX systems other than Linux: the cause in the system's words; no listing, since
// where the ports are recorded differs from one system to the next.
std::vector<std::string> explainOpenFailure(const OpenFailure& failure)
{
    const std::string path = oneLineAscii(failure.devicePath.empty() ? failure.portWord : failure.devicePath);
    switch (failure.refusal) {
    case PortRefusal::NotATerminal:
    case PortRefusal::OwnTerminal:
        return {notAPortLine(failure.refusal, path)};
    case PortRefusal::HeldByAnother:
        return {"velmoran: " + path + " is in use by another program: close it, then run again."};
    case PortRefusal::None:
        return {};
    case PortRefusal::CannotOpen:
        break;
    }
    if (failure.devicePath.empty()) {
        return {"velmoran: " + path + " names no port: COM numbers start at 1."};
    }
    return {"velmoran: cannot open " + path + ": " + oneLineAscii(std::strerror(static_cast<int>(failure.systemError))) +
            " (error " + std::to_string(failure.systemError) + ")."};
}
