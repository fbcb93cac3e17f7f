#include "request_frame.hpp"

std::uint8_t frameChecksum(const std::uint8_t* frameBytes, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t offset = kMarkerOffset; offset < length; ++offset) {
        sum += frameBytes[offset];
    }
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

RequestFrame encodeRequestFrame(const SendRequest& request)
{
    RequestFrame frame;
    const std::size_t dataCount = request.dataCount < kMaxDataBytes ? request.dataCount : kMaxDataBytes;
    frame.length = kFrameOverhead + dataCount;

    frame.bytes[kLengthOffset] = static_cast<std::uint8_t>(frame.length);
    frame.bytes[kMarkerOffset] = kFrameMarker;
    frame.bytes[kIdOffset + 0] = static_cast<std::uint8_t>(request.arbitrationId >> 24);
    frame.bytes[kIdOffset + 1] = static_cast<std::uint8_t>(request.arbitrationId >> 16);
    frame.bytes[kIdOffset + 2] = static_cast<std::uint8_t>(request.arbitrationId >> 8);
    frame.bytes[kIdOffset + 3] = static_cast<std::uint8_t>(request.arbitrationId);
    for (std::size_t i = 0; i < dataCount; ++i) {
        frame.bytes[kDataOffset + i] = request.data[i];
    }
    frame.bytes[kChecksumOffset] = frameChecksum(frame.bytes, frame.length);
    return frame;
}
