#pragma once

// The reader for the ID and data words. It follows the C library's scanning conversion
// "%x" (leading white space, optional sign, rest of the word ignored) except where that
// would send something other than what was typed: a value too wide for 32 bits and a
// bare "0x" prefix are refused, not cut or read as 0. The port word's reader is the
// port's own (link/serial_port.hpp).

#include <cstdint>

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
