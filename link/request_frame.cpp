#include "request_frame.hpp"

namespace {

constexpr std::size_t kLengthOffset = 0;
constexpr std::size_t kChecksumOffset = 1;
constexpr std::size_t kMarkerOffset = 2;
constexpr std::size_t kIdOffset = 3;
constexpr std::size_t kDataOffset = 7;

}  // namespace

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

DecodedFrame decodeRequestFrame(const std::uint8_t* bytes, std::size_t count)
{
    DecodedFrame decoded;
    if (count == 0) {
        return decoded;
    }
    const std::size_t length = bytes[kLengthOffset];
    if (length < kMinFrameLength || length > kMaxFrameLength) {
        decoded.status = FrameDecodeStatus::BadLength;
        return decoded;
    }
    decoded.frameLength = length;
    if (count < length) {
        return decoded;
    }
    decoded.arbitrationId = (static_cast<std::uint32_t>(bytes[kIdOffset]) << 24) |
                            (static_cast<std::uint32_t>(bytes[kIdOffset + 1]) << 16) |
                            (static_cast<std::uint32_t>(bytes[kIdOffset + 2]) << 8) |
                            static_cast<std::uint32_t>(bytes[kIdOffset + 3]);
    decoded.dataCount = length - kFrameOverhead;
    for (std::size_t i = 0; i < decoded.dataCount; ++i) {
        decoded.data[i] = bytes[kDataOffset + i];
    }
    if (bytes[kMarkerOffset] != kFrameMarker) {
        decoded.status = FrameDecodeStatus::BadMarker;
    } else if (bytes[kChecksumOffset] != frameChecksum(bytes, length)) {
        decoded.status = FrameDecodeStatus::BadChecksum;
    } else {
        decoded.status = FrameDecodeStatus::Ok;
    }
    return decoded;
}

const char* frameDecodeStatusName(FrameDecodeStatus status)
{
    switch (status) {
    case FrameDecodeStatus::Ok: return "ok";
    case FrameDecodeStatus::Incomplete: return "incomplete";
    case FrameDecodeStatus::BadLength: return "bad length";
    case FrameDecodeStatus::BadMarker: return "bad marker";
    case FrameDecodeStatus::BadChecksum: return "bad checksum";
    }
    return "unknown";
}
