// Any word through the word readers under the sanitizers, and every answer held to the C
// library's own reading of the word: what they accept, sscanf's "%x" or "COM%d" reads as
// the same value; what they refuse, it refuses too, or reads only as a bare prefix's 0 or
// as a number beyond 32 bits.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A command-line word ends at its first NUL byte.
    const std::string word = std::string(reinterpret_cast<const char*>(data), size).c_str();

    const HexWord hex = parseHexWord(word.c_str());
    unsigned scannedHex = 0;
    const bool hexScanned = std::sscanf(word.c_str(), "%x", &scannedHex) == 1;
    switch (hex.status) {
    case HexWordStatus::Valid: require(hexScanned && scannedHex == hex.value); break;
    case HexWordStatus::NotHex: require(!hexScanned || scannedHex == 0); break;
    case HexWordStatus::TooWide: require(hexScanned); break;
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
