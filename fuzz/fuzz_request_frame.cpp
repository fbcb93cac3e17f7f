// Round trips the frame encoder through the decoder, and decodes any bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "frame_decoder.hpp"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

unsigned lowByteOfSum(const std::uint8_t* bytes, std::size_t from, std::size_t to)
{
    unsigned sum = 0;
    for (std::size_t i = from; i < to; ++i) {
        sum += bytes[i];
    }
    return sum & 0xFFu;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Any bytes decode without harm; a sound frame has a sound layout.
    const DecodedFrame any = decodeRequestFrame(data, size);
    if (any.status == FrameDecodeStatus::Ok) {
        require(any.frameLength >= kFrameOverhead && any.frameLength <= kMaxFrameLength);
        require(any.frameLength <= size && data[0] == any.frameLength && data[2] == kFrameMarker);
        require(data[1] == lowByteOfSum(data, 2, any.frameLength));
    }

    if (size < 5) {
        return 0;
    }
    SendRequest request;
    request.arbitrationId = (static_cast<std::uint32_t>(data[0]) << 24) | (static_cast<std::uint32_t>(data[1]) << 16) |
                            (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
    request.dataCount = data[4] % (kMaxDataBytes + 1);
    for (std::size_t i = 0; i < request.dataCount; ++i) {
        request.data[i] = 5 + i < size ? data[5 + i] : 0;
    }

    const RequestFrame frame = encodeRequestFrame(request);
    require(frame.length == kFrameOverhead + request.dataCount);
    require(frame.bytes[0] == frame.length && frame.bytes[2] == kFrameMarker);
    require(frame.bytes[1] == lowByteOfSum(frame.bytes, 2, frame.length));

    const DecodedFrame decoded = decodeRequestFrame(frame.bytes, frame.length);
    require(decoded.status == FrameDecodeStatus::Ok);
    require(decoded.frameLength == frame.length);
    require(decoded.arbitrationId == request.arbitrationId);
    require(decoded.dataCount == request.dataCount);
    for (std::size_t i = 0; i < request.dataCount; ++i) {
        require(decoded.data[i] == request.data[i]);
    }
    return 0;
}
