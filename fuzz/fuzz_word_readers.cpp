// Checks the word readers against a reference model of the rules, written apart
// from them, simply and slowly: any word of any bytes must get the same answer.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "word_parsing.hpp"

namespace {

const std::string kScanSpace = " \t\n\v\f\r";
const std::string kHexDigits = "0123456789abcdef";

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

std::size_t skipSpace(const std::string& word, std::size_t at)
{
    while (at < word.size() && kScanSpace.find(word[at]) != std::string::npos) {
        ++at;
    }
    return at;
}

HexWord referenceHex(const std::string& word)
{
    HexWord result;
    std::size_t at = skipSpace(word, 0);
    bool negative = false;
    if (at < word.size() && (word[at] == '+' || word[at] == '-')) {
        negative = word[at] == '-';
        ++at;
    }
    if (word.compare(at, 2, "0x") == 0 || word.compare(at, 2, "0X") == 0) {
        at += 2;
    }
    std::string digits;
    while (at < word.size() && std::isxdigit(static_cast<unsigned char>(word[at]))) {
        digits += static_cast<char>(std::tolower(static_cast<unsigned char>(word[at])));
        ++at;
    }
    if (digits.empty()) {
        return result;
    }
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    digits = firstSignificant == std::string::npos ? "" : digits.substr(firstSignificant);
    if (digits.size() > 8) {
        result.status = HexWordStatus::TooWide;
        return result;
    }
    std::uint64_t value = 0;
    for (char digit : digits) {
        value = value * 16 + kHexDigits.find(digit);
    }
    result.status = HexWordStatus::Valid;
    result.value = static_cast<std::uint32_t>(negative ? (0x100000000ULL - value) & 0xFFFFFFFFULL : value);
    return result;
}

PortWord referencePort(const std::string& word)
{
    PortWord result;
    if (word.compare(0, 3, "COM") != 0) {
        return result;
    }
    std::size_t at = skipSpace(word, 3);
    bool negative = false;
    if (at < word.size() && (word[at] == '+' || word[at] == '-')) {
        negative = word[at] == '-';
        ++at;
    }
    std::string digits;
    while (at < word.size() && word[at] >= '0' && word[at] <= '9') {
        digits += word[at++];
    }
    if (digits.empty()) {
        return result;
    }
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    digits = firstSignificant == std::string::npos ? "0" : digits.substr(firstSignificant);
    if (digits.size() > 10) {
        return result;
    }
    const long long magnitude = std::stoll(digits);
    const long long value = negative ? -magnitude : magnitude;
    if (value < -2147483648LL || value > 2147483647LL) {
        return result;
    }
    result.valid = true;
    result.portNumber = static_cast<std::int32_t>(value);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A command-line word ends at its first NUL byte.
    const std::string word = std::string(reinterpret_cast<const char*>(data), size).c_str();

    const HexWord hex = parseHexWord(word.c_str());
    const HexWord expectedHex = referenceHex(word);
    require(hex.status == expectedHex.status);
    require(hex.status != HexWordStatus::Valid || hex.value == expectedHex.value);

    const std::string portWord = "COM" + word;
    for (const std::string& candidate : {word, portWord}) {
        const PortWord port = parsePortWord(candidate.c_str());
        const PortWord expectedPort = referencePort(candidate);
        require(port.valid == expectedPort.valid);
        require(!port.valid || port.portNumber == expectedPort.portNumber);
    }
    return 0;
}
