#include "messages.hpp"

#include <cstddef>
#include <cstdio>

void printBanner()
{
    std::fputs("Program to select CAN ID for download, Version 1.00\n", stdout);
}

void printUsage()
{
    std::fputs("  Velmoran COMnn 0xXXXXXXXX 0xXX 0xXX 0xXX 0xXX 0xXX 0xXX 0xXX 0xXX }\n"
               "     nn = COM port number (1 - 99)\n"
               "     0xXXXXXXXX = The CAN arbitration ID of the command to switch to bootloader\n"
               "     0xXX = 0 to 8 hex bytes that are sent to identify which device is selected\n",
               stdout);
}

void printWrongArgumentCount(int wordCount)
{
    std::printf("Wrong number of arguments! %d\n", wordCount);
}

void printBadPort(const char* portWord)
{
    std::printf("First argument not a valid COM port: %s\n", portWord);
}

void printPortOpenFailed(const char* portWord)
{
    std::printf("Error opening serial port %s\n", portWord);
}

void printPortOpened(const char* portWord)
{
    std::printf("Opened serial port %s successfully\n", portWord);
}

void printBadId(const char* idWord)
{
    std::printf("Second argument not a valid hex number: %s\n", idWord);
}

void printBadData(int position, const char* dataWord)
{
    std::printf("Argument %d is not a valid hex number: %s\n", position, dataWord);
}

void printDataByteTooLarge(int position, const char* dataWord)
{
    std::printf("Argument %d is greater than oxFF: %s\n", position, dataWord);
}

void printSent(std::uint32_t arbitrationId, const std::uint8_t* data, std::size_t dataCount)
{
    std::printf("Sent ID: 0x%08X Data: ", static_cast<unsigned>(arbitrationId));
    for (std::size_t i = 0; i < dataCount; ++i) {
        std::printf("0x%02X ", static_cast<unsigned>(data[i]));
    }
    // Whoever watches sees what went out while the tool waits for the reply.
    std::fflush(stdout);
}

void printReceived(std::uint8_t value)
{
    std::printf("\nReceived: 0x%02X \n", static_cast<unsigned>(value));
}

void printNoAcknowledgment()
{
    std::fputs("\nNo acknowledgment received\n", stdout);
    // Out before the run listens on for a late reply: a script sees the outcome at once.
    std::fflush(stdout);
}

void printExplanation(const std::vector<std::string>& lines)
{
    std::fflush(stdout);
    for (const std::string& line : lines) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}
