#include "word_parsing.hpp"

namespace {

// The C locale's white space, which is what scanning skips; the tool never
// changes locale, so this is fixed.
bool isScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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

const char* skipScanSpace(const char* text)
{
    while (isScanSpace(*text)) {
        ++text;
    }
    return text;
}

}  // namespace

PortWord parsePortWord(const char* word)
{
    PortWord result;
    if (word[0] != 'C' || word[1] != 'O' || word[2] != 'M') {
        return result;
    }
    const char* cursor = skipScanSpace(word + 3);
    bool negative = false;
    if (*cursor == '+' || *cursor == '-') {
        negative = *cursor == '-';
        ++cursor;
    }
    if (*cursor < '0' || *cursor > '9') {
        return result;
    }
    // The magnitude may reach 2^31 for a negative number; anything beyond is refused.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; *cursor >= '0' && *cursor <= '9'; ++cursor) {
        magnitude = magnitude * 10 + (*cursor - '0');
        if (magnitude > limit) {
            return result;
        }
    }
    result.valid = true;
    result.portNumber = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return result;
}

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
