#include "word_parsing.hpp"

#include "../link/scan_space.hpp"

namespace {

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

HexWord parseHexWord(const char* word)
{
    HexWord result;
    const char* cursor = skipScanSpace(word);
    bool negative = false;
    if (*cursor == '+' || *cursor == '-') {
        negative = *cursor == '-';
        ++cursor;
    }
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        // A prefix with no digit after it is no number: a typo must not become ID 0.
        cursor += 2;
    }
    if (hexDigitValue(*cursor) < 0) {
        return result;
    }
    std::uint32_t value = 0;
    int significantDigits = 0;
    for (; hexDigitValue(*cursor) >= 0; ++cursor) {
        const int digit = hexDigitValue(*cursor);
        if (significantDigits == 0 && digit == 0) {
            continue;
        }
        if (++significantDigits > 8) {
            result.status = HexWordStatus::TooWide;
            return result;
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    result.status = HexWordStatus::Valid;
    result.value = negative ? 0u - value : value;
    return result;
}
