#include "bridge_latency.hpp"

#include "bridge_latency_choice.hpp"
#include "present_devices_win32.hpp"
#include "registry_win32.hpp"

#include <cstdio>
#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// FTDI's driver keeps each port's settings under
//   HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>\Device Parameters
// with PortName (REG_SZ, "COM4") and LatencyTimer (REG_DWORD, ms); SetupAPI says which of
// those devices are plugged in now (bridge_latency_choice.hpp chooses). Read only, with an
// ordinary user's rights.

namespace {

// The key's PortName, when it is a string that names `portName` (in any case).
bool namesPort(HKEY parameters, const char* portName)
{
    return sameAsciiIgnoringCase(registryString(parameters, "PortName").c_str(), portName);
}

BridgeLatency latencyTimer(HKEY parameters)
{
    BridgeLatency latency;
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(parameters, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value && value >= 1 && value <= kLongestBridgeLatencyMs) {
        latency.known = true;
        latency.milliseconds = value;
    }
    return latency;
}

}  // namespace

BridgeLatency findBridgeLatency(const SerialPort&, std::int32_t portNumber)
{
    char portName[16];
    std::snprintf(portName, sizeof portName, "COM%ld", static_cast<long>(portNumber));

    std::vector<BridgeLatencyKey> keys;
    HKEY devices = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0,
                      KEY_ENUMERATE_SUB_KEYS, &devices) != ERROR_SUCCESS) {
        return BridgeLatency {};
    }
    forEachSubkey(devices, [&](const char* device) {
        HKEY instances = nullptr;
        if (RegOpenKeyExA(devices, device, 0, KEY_ENUMERATE_SUB_KEYS, &instances) != ERROR_SUCCESS) {
            return true;
        }
        forEachSubkey(instances, [&](const char* instance) {
            char path[300];
            std::snprintf(path, sizeof path, "%s\\Device Parameters", instance);
            HKEY parameters = nullptr;
            if (RegOpenKeyExA(instances, path, 0, KEY_QUERY_VALUE, &parameters) != ERROR_SUCCESS) {
                return true;
            }
            if (keys.size() < kMostSubkeysWalked && namesPort(parameters, portName)) {
                keys.push_back({std::string("FTDIBUS\\") + device + "\\" + instance, latencyTimer(parameters)});
            }
            RegCloseKey(parameters);
            return true;
        });
        RegCloseKey(instances);
        return true;
    });
    RegCloseKey(devices);
    if (keys.empty()) {
        return BridgeLatency {};
    }
    // SetupAPI only now, after a missed reply, so that a run that is answered never pays for it.
    return chooseBridgeLatency(keys, presentDevices("FTDIBUS"));
}
