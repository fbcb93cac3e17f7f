#include "frame_decoder.hpp"

DecodedFrame decodeRequestFrame(const std::uint8_t* bytes, std::size_t count)
{
    DecodedFrame decoded;
    if (count == 0) {
        return decoded;
    }
    const std::size_t length = bytes[kLengthOffset];
    if (length < kFrameOverhead || length > kMaxFrameLength) {
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
