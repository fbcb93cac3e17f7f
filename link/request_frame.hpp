#pragma once

// The request frame: the one message the tool sends to the CAN interface.
//
//   offset  size  field
//   0       1     length    total bytes in the frame, this byte and the checksum
//                           included: 7 + n, so 7 to 15
//   1       1     checksum  low 8 bits of the sum of the bytes at offsets 2 to 6 + n
//                           (marker, ID and data; not the length or the checksum)
//   2       1     marker    always 0x26 ('&')
//   3       4     ID        the 32-bit arbitration ID, most significant byte first;
//                           all four bytes always, with no standard/extended flag
//   7       n     data      0 to 8 data bytes in command-line order
//
// There is no start or end marker, no escaping and nothing after the last data byte.
//
// Examples:
//   ID 0x1FFFFFF0, data 01 02:  09 36 26 1F FF FF F0 01 02
//       (0x26 + 0x1F + 0xFF + 0xFF + 0xF0 + 0x01 + 0x02 = 0x336)
//   ID 0x00000123, no data:     07 4A 26 00 00 01 23
//       (0x26 + 0x00 + 0x00 + 0x01 + 0x23 = 0x4A)

#include <cstddef>
#include <cstdint>

constexpr std::size_t kMaxDataBytes = 8;
constexpr std::size_t kFrameOverhead = 7;
constexpr std::size_t kMaxFrameLength = kFrameOverhead + kMaxDataBytes;
constexpr std::uint8_t kFrameMarker = 0x26;

// Where each field begins.
constexpr std::size_t kLengthOffset = 0;
constexpr std::size_t kChecksumOffset = 1;
constexpr std::size_t kMarkerOffset = 2;
constexpr std::size_t kIdOffset = 3;
constexpr std::size_t kDataOffset = 7;

// One parsed request, filled field by field by the run sequence.
struct SendRequest {
    std::int32_t portNumber = 0;
    std::uint32_t arbitrationId = 0;
    std::uint8_t data[kMaxDataBytes] = {};
    std::size_t dataCount = 0;
};

struct RequestFrame {
    std::uint8_t bytes[kMaxFrameLength] = {};
    std::size_t length = 0;
};

// Cannot fail: a SendRequest never holds more than eight data bytes.
RequestFrame encodeRequestFrame(const SendRequest& request);

// The checksum of a frame whose bytes from offset 2 on are in place;
// `length` is the whole frame's length.
std::uint8_t frameChecksum(const std::uint8_t* frameBytes, std::size_t length);
