#include "no_acknowledgment.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "open_failure.hpp"  // oneLineAscii

namespace {

// Unix 98 pseudo-terminals take majors 136 to 143.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
// A USB serial port's tty hangs below its interface, which hangs below the USB device.
constexpr int kMostLevelsToUsbDevice = 4;

std::string attribute(const std::string& folder, const char* name)
{
    std::FILE* file = std::fopen((folder + "/" + name).c_str(), "r");
    if (file == nullptr) {
        return "";
    }
    char text[128] = {};
    const bool read = std::fgets(text, sizeof text, file) != nullptr;
    std::fclose(file);
    std::string value = read ? text : "";
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) {
        value.pop_back();
    }
    return oneLineAscii(value, 64);
}

std::string linkName(const std::string& link)
{
    char target[PATH_MAX];
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) {
        return "";
    }
    const std::string path(target, static_cast<std::size_t>(length));
    return path.substr(path.rfind('/') + 1);
}

std::string driverName(const std::string& device)
{
    return oneLineAscii(linkName(device + "/driver"), 32);
}

// What the sysfs entry of the character device major:minor says of it.
std::string describeDevice(const std::string& sysRoot, unsigned major, unsigned minor)
{
    if (major >= kFirstPtyMajor && major <= kLastPtyMajor) {
        return "a pseudo-terminal";
    }
    char resolved[PATH_MAX];
    const std::string link = sysRoot + "/dev/char/" + std::to_string(major) + ":" + std::to_string(minor) + "/device";
    if (realpath(link.c_str(), resolved) == nullptr) {
        return "";
    }
    const std::string device = resolved;
    // Since Linux 6.2 a UART's tty hangs below the serial core's own port and controller
    // devices (drivers "port" and "ctrl"): the UART's driver is the one above them.
    std::string owner = device;
    for (int level = 0; level < kMostLevelsToUsbDevice && linkName(owner + "/subsystem") == "serial-base"; ++level) {
        owner.erase(owner.rfind('/'));
    }
    const std::string driver = driverName(owner);
    std::string usbDevice;
    std::string folder = device;
    for (int level = 0; level <= kMostLevelsToUsbDevice && folder.size() > sysRoot.size(); ++level) {
        if (!attribute(folder, "idVendor").empty()) {
            usbDevice = folder;
            break;
        }
        folder.erase(folder.rfind('/'));
    }
    std::string facts;
    std::string name;
    if (!usbDevice.empty()) {
        facts = "USB " + attribute(usbDevice, "idVendor") + ":" + attribute(usbDevice, "idProduct");
        name = attribute(usbDevice, "product");
        const std::string maker = attribute(usbDevice, "manufacturer");
        if (!name.empty() && !maker.empty()) {
            name += " by " + maker;
        }
    }
    if (!driver.empty()) {
        facts += (facts.empty() ? "" : ", ") + std::string("driver ") + driver;
    }
    if (facts.empty()) {
        return "";
    }
    return name.empty() ? facts : name + " (" + facts + ")";
}

}  // namespace

std::string describePort(const SerialPort& port, std::int32_t)
{
    struct stat device {};
    if (fstat(static_cast<int>(port.handle), &device) != 0 || !S_ISCHR(device.st_mode)) {
        return "";
    }
    return describeDevice("/sys", major(device.st_rdev), minor(device.st_rdev));
}
