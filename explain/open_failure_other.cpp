#include "open_failure.hpp"

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
        return {inUseLine(path, {})};
    case PortRefusal::None:
        return {};
    case PortRefusal::CannotOpen:
        break;
    }
    if (failure.devicePath.empty()) {
        return {namesNoPortLine(path, "")};
    }
    return {cannotOpenLine(path, failure.systemError)};
}
