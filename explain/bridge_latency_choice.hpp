#pragma once

// Which of the keys FTDI's Windows driver left for a port holds the timer in force.
//
// The driver keeps a key for every adapter ever plugged in, named by the adapter's serial
// number (by its USB location when it has none), and each keeps the port name it had.
// A key of an adapter that is gone can name the same port as the one plugged in now, with
// a timer that no longer matters. So only the keys of devices present now count, where
// Windows can tell which are; where it cannot, the longest timer among them is the one to
// fear. Kept apart from the registry walk so that the choice can be tried without one.

#include <string>
#include <vector>

#include "bridge_latency.hpp"

// A key under Enum\FTDIBUS whose PortName names the port, and the timer it holds.
struct BridgeLatencyKey {
    std::string instanceId;  // "FTDIBUS\VID_0403+PID_6001+A12345\0000"
    BridgeLatency latency;
};

// The devices that Windows says are present (here, those under FTDIBUS), by instance ID;
// `known` is false when it could not say.
struct PresentDevices {
    bool known = false;
    std::vector<std::string> instanceIds;
};

BridgeLatency chooseBridgeLatency(const std::vector<BridgeLatencyKey>& keys, const PresentDevices& present);

// Registry names and device IDs compare without regard to case, in ASCII.
bool sameAsciiIgnoringCase(const char* left, const char* right);

// Whether the device with that instance ID is among those present.
bool isPresent(const std::string& instanceId, const PresentDevices& present);
