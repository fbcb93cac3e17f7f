#include "serial_port.hpp"
#include "word_parsing.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct PortCase {
    const char* word;
    bool valid;
    std::int32_t portNumber;
};

TEST(ParsePortWord, FollowsComPattern)
{
    const PortCase cases[] = {
        {"COM4", true, 4},
        {"COM12", true, 12},
        {"COM99", true, 99},
        {"COM0", true, 0},
        {"COM100", true, 100},
        {"COM5abc", true, 5},
        {"COM007", true, 7},
        {"COM 5", true, 5},
        {"COM\t5", true, 5},
        {"COM+5", true, 5},
        {"COM-5", true, -5},
        {"COM2147483647", true, 2147483647},
        {"COM-2147483648", true, -2147483647 - 1},
        {"COM2147483648", false, 0},
        {"COM-2147483649", false, 0},
        {"COM99999999999", false, 0},
        {"COM000000000000000000003", true, 3},
        {"com5", false, 0},
        {"Com5", false, 0},
        {"COM", false, 0},
        {"COMx5", false, 0},
        {"COM+", false, 0},
        {"COM- 5", false, 0},
        {"COM+-5", false, 0},
        {" COM5", false, 0},
        {"CO", false, 0},
        {"", false, 0},
        {"5", false, 0},
        {"/dev/ttyS0", false, 0},
    };
    for (const PortCase& c : cases) {
        const PortWord port = parsePortWord(c.word);
        EXPECT_EQ(port.valid, c.valid) << '"' << c.word << '"';
        if (c.valid) {
            EXPECT_EQ(port.portNumber, c.portNumber) << '"' << c.word << '"';
        }
    }
}

struct HexCase {
    const char* word;
    HexWordStatus status;
    std::uint32_t value;
};

TEST(ParseHexWord, FollowsHexScanning)
{
    const HexCase cases[] = {
        {"1fffffff", HexWordStatus::Valid, 0x1FFFFFFF},
        {"0x1FFFFFFF", HexWordStatus::Valid, 0x1FFFFFFF},
        {"0X1fffffff", HexWordStatus::Valid, 0x1FFFFFFF},
        {"ffffffff", HexWordStatus::Valid, 0xFFFFFFFF},
        {"0xFFFFFFFF", HexWordStatus::Valid, 0xFFFFFFFF},
        {"0", HexWordStatus::Valid, 0},
        {"00", HexWordStatus::Valid, 0},
        {"0x0", HexWordStatus::Valid, 0},
        {"100", HexWordStatus::Valid, 0x100},
        {"C8", HexWordStatus::Valid, 0xC8},
        {"aBcDeF", HexWordStatus::Valid, 0xABCDEF},
        {"  0x12", HexWordStatus::Valid, 0x12},
        {"\t\n\v\f\r12", HexWordStatus::Valid, 0x12},
        {"+12", HexWordStatus::Valid, 0x12},
        {"-1", HexWordStatus::Valid, 0xFFFFFFFF},
        {"-0x10", HexWordStatus::Valid, 0xFFFFFFF0},
        {"-0", HexWordStatus::Valid, 0},
        {"12zz", HexWordStatus::Valid, 0x12},
        {"0x12 34", HexWordStatus::Valid, 0x12},
        {"00x5", HexWordStatus::Valid, 0},
        {"0000000000000000000ffffffff", HexWordStatus::Valid, 0xFFFFFFFF},
        {"0x00000000012345678", HexWordStatus::Valid, 0x12345678},
        // Too wide for 32 bits: refused, never cut to the low digits.
        {"123456789", HexWordStatus::TooWide, 0},
        {"0x100000000", HexWordStatus::TooWide, 0},
        {"-123456789", HexWordStatus::TooWide, 0},
        {"fffffffff", HexWordStatus::TooWide, 0},
        // A prefix with no digit after it is no number.
        {"0x", HexWordStatus::NotHex, 0},
        {"0X", HexWordStatus::NotHex, 0},
        {"0xg", HexWordStatus::NotHex, 0},
        {"-0x", HexWordStatus::NotHex, 0},
        {"0x 5", HexWordStatus::NotHex, 0},
        {"xyz", HexWordStatus::NotHex, 0},
        {"zz", HexWordStatus::NotHex, 0},
        {"", HexWordStatus::NotHex, 0},
        {"   ", HexWordStatus::NotHex, 0},
        {"-", HexWordStatus::NotHex, 0},
        {"+-1", HexWordStatus::NotHex, 0},
        {"- 1", HexWordStatus::NotHex, 0},
        {"x12", HexWordStatus::NotHex, 0},
        {"\xC3\xA9", HexWordStatus::NotHex, 0},
    };
    for (const HexCase& c : cases) {
        const HexWord hex = parseHexWord(c.word);
        EXPECT_EQ(hex.status, c.status) << '"' << c.word << '"';
        if (c.status == HexWordStatus::Valid) {
            EXPECT_EQ(hex.value, c.value) << '"' << c.word << '"';
        }
    }
}

#ifdef __GLIBC__
// The readers must agree with the C library's own scanning wherever its result is
// well defined: values that fit in 32 bits, and no bare 0x prefix.

std::vector<std::string> generatedWords(const std::vector<std::string>& heads, const std::vector<std::string>& bodies)
{
    const std::vector<std::string> spaces = {"", " ", "\t", " \n\r"};
    const std::vector<std::string> signs = {"", "+", "-"};
    const std::vector<std::string> tails = {"", "g", " 7", "x1", ".5", "-3", "\xFF"};
    std::vector<std::string> words;
    for (const std::string& head : heads) {
        for (const std::string& space : spaces) {
            for (const std::string& sign : signs) {
                for (const std::string& body : bodies) {
                    for (const std::string& tail : tails) {
                        words.push_back(head + space + sign + body + tail);
                    }
                }
            }
        }
    }
    return words;
}

TEST(ParseHexWord, AgreesWithScanf)
{
    const std::vector<std::string> bodies = {
        "", "0", "00", "1", "9", "a", "F", "fF", "100", "C8", "7fffffff", "80000000", "FFFFFFFF",
        "1FFFFFF0", "0000000012345678", "0x0", "0X1", "0xff", "0xFFFFFFFF", "0x000000001", "0XaBc",
    };
    int compared = 0;
    for (const std::string& word : generatedWords({""}, bodies)) {
        unsigned expected = 0;
        const bool scanned = std::sscanf(word.c_str(), "%x", &expected) == 1;
        const HexWord hex = parseHexWord(word.c_str());
        EXPECT_EQ(hex.status == HexWordStatus::Valid, scanned) << '"' << word << '"';
        if (scanned && hex.status == HexWordStatus::Valid) {
            EXPECT_EQ(hex.value, expected) << '"' << word << '"';
        }
        ++compared;
    }
    EXPECT_GT(compared, 1000);
}

TEST(ParsePortWord, AgreesWithScanf)
{
    const std::vector<std::string> bodies = {
        "", "0", "1", "4", "9", "10", "99", "100", "007", "2147483647", "65536", "x", "a1",
    };
    int compared = 0;
    for (const std::string& word : generatedWords({"COM", "com", "CO", " COM", "COMM"}, bodies)) {
        int expected = 0;
        const bool scanned = std::sscanf(word.c_str(), "COM%d", &expected) == 1;
        const PortWord port = parsePortWord(word.c_str());
        EXPECT_EQ(port.valid, scanned) << '"' << word << '"';
        if (scanned && port.valid) {
            EXPECT_EQ(port.portNumber, expected) << '"' << word << '"';
        }
        ++compared;
    }
    EXPECT_GT(compared, 1000);
}
#endif

}  // namespace
