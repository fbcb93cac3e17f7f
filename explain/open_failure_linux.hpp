#pragma once

// Linux: where explainOpenFailure looks, so that a test can give it a tree of its own in
// place of the machine's sysfs, /dev, /proc and /etc; and how it words a refusal for lack of
// rights from the facts it found.

#include <string>
#include <vector>

#include "open_failure.hpp"

struct SystemRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
    std::string proc = "/proc";
    std::string etc = "/etc";
};

// Who asked for the port: the process's effective user and group and its other groups.
struct ProcessIdentity {
    unsigned long user = 0;
    unsigned long group = 0;
    std::vector<unsigned long> groups;
};
ProcessIdentity currentIdentity();

std::vector<std::string> explainOpenFailureIn(const SystemRoots& roots, const ProcessIdentity& who,
                                              const OpenFailure& failure);

// The serial ports with a device behind them, placeholders of UARTs that are not there
// left out, each with its /dev/serial/by-id name where one points to it; sorted.
std::vector<PresentPort> presentSerialPorts(const SystemRoots& roots);

// What stat, /etc/passwd and /etc/group and the process's own groups say of a port
// that refused this user.
struct AccessFacts {
    std::string path;
    unsigned mode = 0;           // the permission bits
    std::string ownerName;
    std::string groupName;
    std::string userName;
    bool processHasGroup = false;  // the device's group is among this process's groups
    bool userListedInGroup = false;  // the group database lists the user in it
};
std::string accessAdvice(const AccessFacts& facts);
