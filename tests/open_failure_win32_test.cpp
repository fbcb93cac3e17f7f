// Why a port could not be opened, on Windows: the error and registry keys standing for the
// machine's, in; the lines, out. Run under Wine with the rest of the unit tests.

#include "open_failure_win32.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kTop = "Software\\velmoran-tests\\";

void setString(const std::string& key, const char* name, const std::string& text, DWORD type = REG_SZ)
{
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (kTop + key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &opened, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(opened, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(opened);
}

void forgetKeys()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\velmoran-tests");
}

// SERIALCOMM as drivers write it, and what lies there too: another type, a name that is
// no COM port, one too long, one listed twice; an FTDI and a Prolific adapter with their
// Device Manager names, a key with no name, and the key of an FTDI adapter unplugged long
// ago that named COM10 too (first in the Enum tree).
void seedMachine()
{
    const std::string map = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    setString(map, "\\Device\\Serial0", "COM1");
    setString(map, "\\Device\\VCP0", "COM10");
    setString(map, "\\Device\\ProlificSerial0", "COM7");
    setString(map, "\\Device\\Odd", "COM9", REG_BINARY);
    setString(map, "\\Device\\Named", "LPT1");
    setString(map, "\\Device\\Long", "COM" + std::string(300, '7'));
    setString(map, "\\Device\\Twice", "COM7");
    const std::string enumTree = "SYSTEM\\CurrentControlSet\\Enum\\";
    setString(enumTree + "FTDIBUS\\VID_0403+PID_6001+A0\\0000", "FriendlyName", "Unplugged Serial Port (COM10)");
    setString(enumTree + "FTDIBUS\\VID_0403+PID_6001+A0\\0000\\Device Parameters", "PortName", "COM10");
    setString(enumTree + "FTDIBUS\\VID_0403+PID_6001+A1\\0000", "FriendlyName", "USB Serial Port (COM10)");
    setString(enumTree + "FTDIBUS\\VID_0403+PID_6001+A1\\0000\\Device Parameters", "PortName", "COM10");
    setString(enumTree + "USB\\VID_067B&PID_2303\\5&1A2B3C&0&2", "FriendlyName", "Prolific USB-to-Serial (COM7)");
    setString(enumTree + "USB\\VID_067B&PID_2303\\5&1A2B3C&0&2\\Device Parameters", "PortName", "COM7");
    setString(enumTree + "ACPI\\PNP0501\\1\\Device Parameters", "PortName", "COM1");
}

TEST(ExplainOpenFailure, NamesTheCauseAndThePortsThere)
{
    forgetKeys();
    seedMachine();
    const PresentDevices present {true, {"ftdibus\\VID_0403+PID_6001+A1\\0000", "USB\\VID_067B&PID_2303\\5&1A2B3C&0&2",
                                         "ACPI\\PNP0501\\1"}};
    const RegistryRoots roots {HKEY_CURRENT_USER, kTop, &present};
    const std::string listed =
        "velmoran: the serial ports here are COM1, COM7 (Prolific USB-to-Serial (COM7)), COM10 (USB Serial Port "
        "(COM10)).";
    struct Case {
        const char* name;
        OpenFailure failure;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"no such port", {"COM4", "\\\\.\\COM4", PortRefusal::CannotOpen, ERROR_FILE_NOT_FOUND},
         {"velmoran: COM4 does not exist on this PC: check the port's number in Device Manager, Ports (COM & LPT).",
          listed}},
        {"no such path", {"COM-5", "\\\\.\\COM-5", PortRefusal::CannotOpen, ERROR_PATH_NOT_FOUND},
         {"velmoran: COM-5 does not exist on this PC: check the port's number in Device Manager, Ports (COM & LPT).",
          listed}},
        {"in use", {"COM7", "\\\\.\\COM7", PortRefusal::CannotOpen, ERROR_ACCESS_DENIED},
         {"velmoran: COM7 is in use by another program (a terminal, a flashing tool, a download still running): close "
          "it, then run again. Running as administrator does not help."}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(explainOpenFailureIn(roots, c.failure), c.lines) << c.name;
    }
    // Anything else in the system's own words, which differ between Windows and Wine.
    const std::vector<std::string> other =
        explainOpenFailureIn(roots, {"COM7", "\\\\.\\COM7", PortRefusal::CannotOpen, ERROR_GEN_FAILURE});
    ASSERT_EQ(other.size(), 1u);
    const std::string start = "velmoran: cannot open COM7: ";
    const std::string end = " (error 31).";
    EXPECT_TRUE(other[0].size() > start.size() + end.size() + 1 && other[0].compare(0, start.size(), start) == 0 &&
                other[0].compare(other[0].size() - end.size(), end.size(), end) == 0 &&
                other[0].find_first_of("\r\n") == std::string::npos)
        << other[0];

    // Where SetupAPI cannot say which devices are present, the first key naming the port.
    const PresentDevices unknown;
    EXPECT_EQ(presentPortsLine(presentComPorts({HKEY_CURRENT_USER, kTop, &unknown})),
              "velmoran: the serial ports here are COM1, COM7 (Prolific USB-to-Serial (COM7)), COM10 (Unplugged Serial "
              "Port (COM10)).");

    forgetKeys();
    EXPECT_EQ(presentPortsLine(presentComPorts(roots)),
              "velmoran: no serial port is present on this PC: the adapter is unplugged, or its driver is missing.");
}

}  // namespace
