#include "no_acknowledgment.hpp"
#include "open_failure_win32.hpp"

// Device Manager's name of the present device that has the port, as exit 3 lists it.
std::string describePort(const SerialPort&, std::int32_t portNumber)
{
    const std::string name = "COM" + std::to_string(portNumber);
    for (const PresentPort& port : presentComPorts(RegistryRoots {})) {
        if (sameAsciiIgnoringCase(port.name.c_str(), name.c_str())) {
            return port.alsoNamed;
        }
    }
    return "";
}
