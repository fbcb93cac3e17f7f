// Any word through the word readers under the sanitizers, and every answer held to the C
// library's own reading of the word: a hex word's verdict and value to strtoull's (with
// its range), and its value to sscanf's "%x" too; a port word to sscanf's "COM%d", which
// refuses what they refuse, or reads it only as a number beyond 32 bits.

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "serial_port.hpp"
#include "word_parsing.hpp"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool beyond32Bits(const char* number)
{
    errno = 0;
    const long long value = std::strtoll(number, nullptr, 10);
    return errno == ERANGE || value < -2147483648LL || value > 2147483647LL;
}

// strtoull's verdict on a hex word, read as "%x" reads one: optional white space and one
// sign, then hex digits after an optional 0x, of which there must be one. A bare "0x" is
// refused rather than read as 0.
HexWordStatus strtoullVerdict(const char* word, std::uint32_t& value)
{
    const char* digits = word;
    while (std::isspace(static_cast<unsigned char>(*digits))) {
        ++digits;
    }
    const bool negative = *digits == '-';
    digits += *digits == '-' || *digits == '+' ? 1 : 0;
    if (!std::isxdigit(static_cast<unsigned char>(*digits))) {
        return HexWordStatus::NotHex;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits, &end, 16);
    if (*digits == '0' && end == digits + 1 && (*end == 'x' || *end == 'X')) {
        return HexWordStatus::NotHex;
    }
    if (errno == ERANGE || magnitude > 0xFFFFFFFFULL) {
        return HexWordStatus::TooWide;
    }
    value = negative ? 0U - static_cast<std::uint32_t>(magnitude) : static_cast<std::uint32_t>(magnitude);
    return HexWordStatus::Valid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A command-line word ends at its first NUL byte.
    const std::string word = std::string(reinterpret_cast<const char*>(data), size).c_str();

    const HexWord hex = parseHexWord(word.c_str());
    unsigned scannedHex = 0;
    const bool hexScanned = std::sscanf(word.c_str(), "%x", &scannedHex) == 1;
    std::uint32_t expectedValue = 0;
    require(hex.status == strtoullVerdict(word.c_str(), expectedValue));
    if (hex.status == HexWordStatus::Valid) {
        require(hex.value == expectedValue && hexScanned && scannedHex == hex.value);
    }

    for (const std::string& candidate : {word, "COM" + word}) {
        const PortWord port = parsePortWord(candidate.c_str());
        int scannedPort = 0;
        const bool portScanned = std::sscanf(candidate.c_str(), "COM%d", &scannedPort) == 1;
        if (port.valid) {
            require(portScanned && scannedPort == port.portNumber);
        } else {
            require(!portScanned || beyond32Bits(candidate.c_str() + 3));
        }
    }
    return 0;
}
