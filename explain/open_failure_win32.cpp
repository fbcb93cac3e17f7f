#include "open_failure_win32.hpp"

#include "present_devices_win32.hpp"
#include "registry_win32.hpp"

#include <algorithm>

// SERIALCOMM holds one value per port present, its data the port's name ("COM7"), and is
// readable by any user. Device Manager's name for a port is the FriendlyName of the
// device whose Enum key's Device Parameters\PortName names it; the Enum tree keeps the
// keys of devices long unplugged too, which may name the same port, so only a present
// device's key counts. Every read is bounded and takes only the types Windows writes; a
// name that is not "COM" and digits is left out.

namespace {

constexpr DWORD kMostValuesRead = 4096;
constexpr DWORD kMostInstancesRead = 20000;

bool isComName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 8 || name.compare(0, 3, "COM") != 0) {
        return false;
    }
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Fills in Device Manager's names for the ports listed, from the Enum tree. Where SetupAPI
// cannot say which devices are present, the first key that names the port is taken,
// though it may be an unplugged adapter's.
void addFriendlyNames(const RegistryRoots& roots, std::vector<PresentPort>& ports)
{
    const PresentDevices present = roots.present != nullptr ? *roots.present : presentDevices(nullptr);
    HKEY enumerators = nullptr;
    if (RegOpenKeyExA(roots.machine, (roots.prefix + "SYSTEM\\CurrentControlSet\\Enum").c_str(), 0,
                      KEY_ENUMERATE_SUB_KEYS, &enumerators) != ERROR_SUCCESS) {
        return;
    }
    DWORD instancesRead = 0;
    forEachSubkey(enumerators, [&](const char* enumerator) {
        HKEY devices = nullptr;
        if (RegOpenKeyExA(enumerators, enumerator, 0, KEY_ENUMERATE_SUB_KEYS, &devices) != ERROR_SUCCESS) {
            return true;
        }
        forEachSubkey(devices, [&](const char* device) {
            HKEY instances = nullptr;
            if (RegOpenKeyExA(devices, device, 0, KEY_ENUMERATE_SUB_KEYS, &instances) != ERROR_SUCCESS) {
                return true;
            }
            forEachSubkey(instances, [&](const char* instance) {
                HKEY instanceKey = nullptr;
                HKEY parameters = nullptr;
                const std::string instanceId = std::string(enumerator) + "\\" + device + "\\" + instance;
                if ((!present.known || isPresent(instanceId, present)) &&
                    RegOpenKeyExA(instances, instance, 0, KEY_QUERY_VALUE, &instanceKey) == ERROR_SUCCESS) {
                    if (RegOpenKeyExA(instanceKey, "Device Parameters", 0, KEY_QUERY_VALUE, &parameters) ==
                        ERROR_SUCCESS) {
                        const std::string portName = registryString(parameters, "PortName");
                        for (PresentPort& port : ports) {
                            if (port.alsoNamed.empty() && sameAsciiIgnoringCase(port.name.c_str(), portName.c_str())) {
                                port.alsoNamed = registryString(instanceKey, "FriendlyName");
                            }
                        }
                        RegCloseKey(parameters);
                    }
                    RegCloseKey(instanceKey);
                }
                return ++instancesRead < kMostInstancesRead;
            });
            RegCloseKey(instances);
            return instancesRead < kMostInstancesRead;
        });
        RegCloseKey(devices);
        return instancesRead < kMostInstancesRead;
    });
    RegCloseKey(enumerators);
}

std::string systemMessage(long error)
{
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(error),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text - 1, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "unknown error" : oneLineAscii(message);
}

}  // namespace

std::vector<PresentPort> presentComPorts(const RegistryRoots& roots)
{
    std::vector<PresentPort> ports;
    HKEY serialComm = nullptr;
    if (RegOpenKeyExA(roots.machine, (roots.prefix + "HARDWARE\\DEVICEMAP\\SERIALCOMM").c_str(), 0, KEY_QUERY_VALUE,
                      &serialComm) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0; index < kMostValuesRead; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        char data[64] = {};
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG result = RegEnumValueA(serialComm, index, valueName, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        const std::string name(data);
        const bool listed = std::any_of(ports.begin(), ports.end(), [&](const PresentPort& port) { return port.name == name; });
        if (result == ERROR_SUCCESS && type == REG_SZ && isComName(name) && !listed) {
            ports.push_back({name, ""});
        }
    }
    RegCloseKey(serialComm);
    std::sort(ports.begin(), ports.end(),
              [](const PresentPort& left, const PresentPort& right) { return comesBeforeNaturally(left.name, right.name); });
    addFriendlyNames(roots, ports);
    return ports;
}

std::vector<std::string> explainOpenFailureIn(const RegistryRoots& roots, const OpenFailure& failure)
{
    const std::string word = oneLineAscii(failure.portWord);
    switch (failure.systemError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return {"velmoran: " + word + " does not exist on this PC: check the port's number in Device Manager, Ports "
                "(COM & LPT).",
                presentPortsLine(presentComPorts(roots))};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return {"velmoran: " + word + " is in use by another program (a terminal, a flashing tool, a download still "
                "running): close it, then run again. Running as administrator does not help."};
    default:
        return {"velmoran: cannot open " + word + ": " + systemMessage(failure.systemError) + " (error " +
                std::to_string(failure.systemError) + ")."};
    }
}

std::vector<std::string> explainOpenFailure(const OpenFailure& failure)
{
    return explainOpenFailureIn(RegistryRoots {}, failure);
}
