#pragma once

// Every text the tool prints, all on standard output but for one hint on standard error.
// Scripts read these byte for byte, odd spellings included.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

void printBanner();
void printUsage();
void printWrongArgumentCount(int wordCount);
void printBadPort(const char* portWord);
void printPortOpenFailed(const char* portWord);
void printPortOpened(const char* portWord);
void printBadId(const char* idWord);
void printBadData(int position, const char* dataWord);
void printDataByteTooLarge(int position, const char* dataWord);
// The echo line has no line end: the outcome that follows begins with one.
void printSent(std::uint32_t arbitrationId, const std::uint8_t* data, std::size_t dataCount);
void printReceived(std::uint8_t value);
void printNoAcknowledgment();
// Lines that explain a failure, on standard error after what standard output showed.
void printExplanation(const std::vector<std::string>& lines);
