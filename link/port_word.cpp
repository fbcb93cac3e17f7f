#include "scan_space.hpp"
#include "serial_port.hpp"

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
