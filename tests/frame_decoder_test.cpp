#include "frame_decoder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

TEST(DecodeRequestFrame, RoundTripsEveryDataCount)
{
    const std::uint32_t ids[] = {0x00000000, 0x00000123, 0x1FFFFFF0, 0x80000000, 0xFFFFFFFF};
    for (std::uint32_t id : ids) {
        for (std::size_t count = 0; count <= kMaxDataBytes; ++count) {
            SendRequest request;
            request.arbitrationId = id;
            for (std::size_t i = 0; i < count; ++i) {
                request.data[request.dataCount++] = static_cast<std::uint8_t>(0xF9 + i * 37);
            }
            const std::vector<std::uint8_t> data(request.data, request.data + count);
            const RequestFrame frame = encodeRequestFrame(request);
            const DecodedFrame decoded = decodeRequestFrame(frame.bytes, frame.length);
            ASSERT_EQ(decoded.status, FrameDecodeStatus::Ok) << "id " << id << " count " << count;
            EXPECT_EQ(decoded.frameLength, 7 + count);
            EXPECT_EQ(decoded.arbitrationId, id);
            EXPECT_EQ(std::vector<std::uint8_t>(decoded.data, decoded.data + decoded.dataCount), data);
        }
    }
}

TEST(DecodeRequestFrame, ReportsEachFault)
{
    const std::vector<std::uint8_t> good = {0x09, 0x36, 0x26, 0x1F, 0xFF, 0xFF, 0xF0, 0x01, 0x02};

    EXPECT_EQ(decodeRequestFrame(good.data(), 0).status, FrameDecodeStatus::Incomplete);
    const DecodedFrame partial = decodeRequestFrame(good.data(), good.size() - 1);
    EXPECT_EQ(partial.status, FrameDecodeStatus::Incomplete);
    EXPECT_EQ(partial.frameLength, good.size());

    for (std::uint8_t badLength : {0x00, 0x06, 0x10, 0xFF}) {
        std::vector<std::uint8_t> bytes = good;
        bytes[0] = badLength;
        EXPECT_EQ(decodeRequestFrame(bytes.data(), bytes.size()).status, FrameDecodeStatus::BadLength)
            << int(badLength);
    }

    std::vector<std::uint8_t> badMarker = good;
    badMarker[2] = 0x27;
    EXPECT_EQ(decodeRequestFrame(badMarker.data(), badMarker.size()).status, FrameDecodeStatus::BadMarker);

    std::vector<std::uint8_t> badChecksum = good;
    badChecksum[8] = 0x03;
    EXPECT_EQ(decodeRequestFrame(badChecksum.data(), badChecksum.size()).status, FrameDecodeStatus::BadChecksum);

    // Bytes after the frame are not part of it.
    std::vector<std::uint8_t> trailing = good;
    trailing.push_back(0x55);
    EXPECT_EQ(decodeRequestFrame(trailing.data(), trailing.size()).status, FrameDecodeStatus::Ok);
}

}  // namespace
