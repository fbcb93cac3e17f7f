#pragma once

// Reads a request frame back, as the CAN interface does: the stand-in device, the
// tests and the fuzzers use it; the tool itself only encodes. The layout is in
// request_frame.hpp.

#include <cstddef>
#include <cstdint>

#include "request_frame.hpp"

enum class FrameDecodeStatus {
    Ok,
    Incomplete,   // fewer bytes than the length byte announces (or none at all)
    BadLength,    // the length byte is outside 7 to 15
    BadMarker,
    BadChecksum,
};

struct DecodedFrame {
    FrameDecodeStatus status = FrameDecodeStatus::Incomplete;
    std::size_t frameLength = 0;  // bytes the frame takes, once the length byte is known
    std::uint32_t arbitrationId = 0;
    std::uint8_t data[kMaxDataBytes] = {};
    std::size_t dataCount = 0;
};

// Reads one frame from the start of `bytes`; what follows the frame is not looked at.
DecodedFrame decodeRequestFrame(const std::uint8_t* bytes, std::size_t count);

const char* frameDecodeStatusName(FrameDecodeStatus status);
