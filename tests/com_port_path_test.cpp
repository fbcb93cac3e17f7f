#include "serial_link.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
    std::int32_t portNumber;
    const char* path;  // nullptr: no device
};

// COM1 must reach the first port: one off, and the frame goes to another device.
TEST(ComPortPath, NamesTheDeviceOfEachNumber)
{
#ifdef _WIN32
    const PathCase cases[] = {{1, "\\\\.\\COM1"}, {9, "\\\\.\\COM9"}, {10, "\\\\.\\COM10"}, {99, "\\\\.\\COM99"}};
#else
    const PathCase cases[] = {{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"},  {10, "/dev/ttyS9"},
                              {0, nullptr},      {-1, nullptr},        {2147483647, "/dev/ttyS2147483646"}};
#endif
    for (const PathCase& c : cases) {
        const ComPortPath path = comPortPath(c.portNumber);
        EXPECT_EQ(path.exists, c.path != nullptr) << "COM" << c.portNumber;
        if (c.path != nullptr) {
            EXPECT_EQ(std::string(path.text), c.path) << "COM" << c.portNumber;
        }
    }
}

}  // namespace
