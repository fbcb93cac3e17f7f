#pragma once

// Readers for the command-line words. They follow the C library's scanning
// conversions "COM%d" and "%x" (leading white space, optional sign, rest of the
// word ignored) except where those would send something other than what was typed:
// a value too wide for 32 bits and a bare "0x" prefix are refused, not cut or read as 0.

#include <cstdint>

struct PortWord {
    bool valid = false;
    std::int32_t portNumber = 0;
};

// "COM" in capitals, then a signed decimal integer in the 32-bit range.
PortWord parsePortWord(const char* word);

enum class HexWordStatus {
    Valid,
    NotHex,    // no hexadecimal digit where the number should be
    TooWide,   // more than eight significant digits: cannot be held in 32 bits
};

struct HexWord {
    HexWordStatus status = HexWordStatus::NotHex;
    std::uint32_t value = 0;  // a leading minus sign negates modulo 2^32
};

HexWord parseHexWord(const char* word);
