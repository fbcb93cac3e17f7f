#include "bridge_latency.hpp"

#include <cstdio>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// FTDI's driver keeps each port's settings under
//   HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>\<instance>\Device Parameters
// with PortName (REG_SZ, "COM4") and LatencyTimer (REG_DWORD, ms). One adapter seen in
// several USB sockets has a key for each, all naming the same port: the largest timer
// among them is the one to fear. Read only, with an ordinary user's rights.

namespace {

// Far more than a PC has; the walk ends in bounded time whatever the registry holds.
constexpr DWORD kMostKeysWalked = 4096;

bool sameAsciiIgnoringCase(const char* left, const char* right)
{
    for (;; ++left, ++right) {
        char a = *left;
        char b = *right;
        if (a >= 'a' && a <= 'z') {
            a = static_cast<char>(a - 'a' + 'A');
        }
        if (b >= 'a' && b <= 'z') {
            b = static_cast<char>(b - 'a' + 'A');
        }
        if (a != b) {
            return false;
        }
        if (a == '\0') {
            return true;
        }
    }
}

// The key's PortName, when it is a string that names `portName` (in any case).
bool namesPort(HKEY parameters, const char* portName)
{
    char text[32] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;  // a string stored without its terminator still ends
    if (RegQueryValueExA(parameters, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    return sameAsciiIgnoringCase(text, portName);
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

// Calls `visit` with each subkey's name, up to the walk's limit.
template <typename Visit>
void forEachSubkey(HKEY key, Visit visit)
{
    for (DWORD index = 0; index < kMostKeysWalked; ++index) {
        char name[256];
        DWORD length = sizeof name;
        const LONG result = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            return;
        }
        if (result == ERROR_SUCCESS) {
            visit(name);
        }
    }
}

}  // namespace

BridgeLatency findBridgeLatency(const SerialPort&, std::int32_t portNumber)
{
    char portName[16];
    std::snprintf(portName, sizeof portName, "COM%ld", static_cast<long>(portNumber));

    BridgeLatency longest;
    HKEY devices = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0,
                      KEY_ENUMERATE_SUB_KEYS, &devices) != ERROR_SUCCESS) {
        return longest;
    }
    forEachSubkey(devices, [&](const char* device) {
        HKEY instances = nullptr;
        if (RegOpenKeyExA(devices, device, 0, KEY_ENUMERATE_SUB_KEYS, &instances) != ERROR_SUCCESS) {
            return;
        }
        forEachSubkey(instances, [&](const char* instance) {
            char path[300];
            std::snprintf(path, sizeof path, "%s\\Device Parameters", instance);
            HKEY parameters = nullptr;
            if (RegOpenKeyExA(instances, path, 0, KEY_QUERY_VALUE, &parameters) != ERROR_SUCCESS) {
                return;
            }
            if (namesPort(parameters, portName)) {
                const BridgeLatency latency = latencyTimer(parameters);
                if (latency.known && latency.milliseconds > longest.milliseconds) {
                    longest = latency;
                }
            }
            RegCloseKey(parameters);
        });
        RegCloseKey(instances);
    });
    RegCloseKey(devices);
    return longest;
}
