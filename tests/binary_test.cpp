// The real binary, for every outcome that needs no device on the line.

#include "process_runner.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

const std::string kBanner = "Program to select CAN ID for download, Version 1.00\n";
const std::string kUsage =
    "  Velmoran COMnn 0xXXXXXXXX 0xXX 0xXX 0xXX 0xXX 0xXX 0xXX 0xXX 0xXX }\n"
    "     nn = COM port number (1 - 99)\n"
    "     0xXXXXXXXX = The CAN arbitration ID of the command to switch to bootloader\n"
    "     0xXX = 0 to 8 hex bytes that are sent to identify which device is selected\n";

struct BinaryCase {
    const char* name;
    std::vector<std::string> words;  // after the program's name
    std::string expectedOut;
    int expectedExit;
    // Standard error, whole: nothing but for a port that could not be opened, whose lines
    // say why and may list this machine's ports.
    std::string expectedErr = "";
};

const std::string kPortsHere = "velmoran: (the serial ports here are [^\\n]*|no serial port is present on this PC: [^\\n]*)\\n";

void PrintTo(const BinaryCase& c, std::ostream* os)
{
    *os << c.name;
}

class RealBinary : public ::testing::TestWithParam<BinaryCase> {};

TEST_P(RealBinary, PrintsExactlyAndExits)
{
    const BinaryCase& c = GetParam();
    std::vector<std::string> argv = {VELMORAN_BINARY};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    const ProcessResult result = runProcess(argv);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.out, c.expectedOut);
    EXPECT_TRUE(std::regex_match(result.err, std::regex(c.expectedErr))) << result.err;
    EXPECT_EQ(result.exitCode, c.expectedExit);
}

const std::vector<std::string> kTwelveWords = {"COM4", "1", "1", "2", "3", "4", "5", "6", "7", "8", "9"};

INSTANTIATE_TEST_SUITE_P(
    NoDevice, RealBinary,
    ::testing::Values(
        BinaryCase {"NoArguments", {}, kBanner + "Wrong number of arguments! 1\n" + kUsage, 1},
        BinaryCase {"PortOnly", {"COM4"}, kBanner + "Wrong number of arguments! 2\n" + kUsage, 1},
        BinaryCase {"TwelveWords", kTwelveWords, kBanner + "Wrong number of arguments! 12\n" + kUsage, 1},
        BinaryCase {"LowerCasePort", {"com5", "0x1"}, kBanner + "First argument not a valid COM port: com5\n", 2},
        BinaryCase {"PortWithoutNumber", {"COM", "0x1"}, kBanner + "First argument not a valid COM port: COM\n", 2},
        // A bad port word is reported before the ID is looked at.
        BinaryCase {"BadPortBeforeBadId", {"xCOM1", "xyz"}, kBanner + "First argument not a valid COM port: xCOM1\n", 2},
        BinaryCase {"PortZero", {"COM0", "0x1"}, kBanner + "Error opening serial port COM0\n", 3,
                    "velmoran: COM0 names no port: COM numbers start at 1, and COM1 is /dev/ttyS0 here\\.\n" + kPortsHere},
        BinaryCase {"DevNull", {"/dev/null", "0x1", "0x2"}, kBanner + "Error opening serial port /dev/null\n", 3,
                    "velmoran: /dev/null is not a serial port \\(not a terminal device\\): give the CAN interface's "
                    "port\\.\n"},
        BinaryCase {"LongPortWord",
                    {"COM" + std::string(100000, '9'), "0x1"},
                    kBanner + "First argument not a valid COM port: COM" + std::string(100000, '9') + "\n",
                    2},
        BinaryCase {"LongDevicePath",
                    {"/dev/" + std::string(100000, 'x'), "0x1"},
                    kBanner + "Error opening serial port /dev/" + std::string(100000, 'x') + "\n",
                    3, "velmoran: cannot open /dev/x{195}\\.\\.\\.: File name too long \\(error 36\\)\\.\n"},
        BinaryCase {"MissingDevice",
                    {"/dev/velmoran-no-such-port", "0x1"},
                    kBanner + "Error opening serial port /dev/velmoran-no-such-port\n",
                    3, "velmoran: /dev/velmoran-no-such-port does not exist: check the port's name\\.\n" + kPortsHere}),
    [](const ::testing::TestParamInfo<BinaryCase>& info) { return std::string(info.param.name); });

}  // namespace
