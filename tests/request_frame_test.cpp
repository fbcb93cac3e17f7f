#include "request_frame.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

SendRequest makeRequest(std::uint32_t id, const std::vector<std::uint8_t>& data)
{
    SendRequest request;
    request.arbitrationId = id;
    for (std::uint8_t byte : data) {
        request.data[request.dataCount++] = byte;
    }
    return request;
}

std::vector<std::uint8_t> frameBytes(const RequestFrame& frame)
{
    return std::vector<std::uint8_t>(frame.bytes, frame.bytes + frame.length);
}

struct EncodeCase {
    const char* name;
    std::uint32_t id;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> expected;
};

void PrintTo(const EncodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class EncodeRequestFrame : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeRequestFrame, GivesExactBytes)
{
    const EncodeCase& c = GetParam();
    EXPECT_EQ(frameBytes(encodeRequestFrame(makeRequest(c.id, c.data))), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, EncodeRequestFrame,
    ::testing::Values(
        EncodeCase {"TypicalRun", 0x1FFFFFF0, {0x01, 0x02}, {0x09, 0x36, 0x26, 0x1F, 0xFF, 0xFF, 0xF0, 0x01, 0x02}},
        EncodeCase {"NoData", 0x00000123, {}, {0x07, 0x4A, 0x26, 0x00, 0x00, 0x01, 0x23}},
        EncodeCase {"ZeroIdKeepsAllFourBytes", 0x00000000, {}, {0x07, 0x26, 0x26, 0x00, 0x00, 0x00, 0x00}},
        EncodeCase {"EightDataBytes",
                    0x00000000,
                    {1, 2, 3, 4, 5, 6, 7, 8},
                    {0x0F, 0x4A, 0x26, 0x00, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}},
        // 0x26 + 0xFF * 12 = 0xC1A: only the low byte is kept.
        EncodeCase {"SumFarPastFF",
                    0xFFFFFFFF,
                    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                    {0x0F, 0x1A, 0x26, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        // 0x26 + 0xDA = 0x100 exactly: checksum 0x00.
        EncodeCase {"SumExactly100", 0x000000DA, {}, {0x07, 0x00, 0x26, 0x00, 0x00, 0x00, 0xDA}},
        EncodeCase {"IdMostSignificantByteFirst", 0x12345678, {0xC8}, {0x08, 0x02, 0x26, 0x12, 0x34, 0x56, 0x78, 0xC8}}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

TEST(FrameChecksum, CoversMarkerIdAndDataOnly)
{
    std::uint8_t bytes[] = {0xAA, 0xBB, 0x26, 0x00, 0x00, 0x00, 0x01, 0x02};
    EXPECT_EQ(frameChecksum(bytes, sizeof bytes), 0x29);
    bytes[0] = 0x00;
    bytes[1] = 0x00;
    EXPECT_EQ(frameChecksum(bytes, sizeof bytes), 0x29);
}

TEST(DecodeRequestFrame, RoundTripsEveryDataCount)
{
    const std::uint32_t ids[] = {0x00000000, 0x00000123, 0x1FFFFFF0, 0x80000000, 0xFFFFFFFF};
    for (std::uint32_t id : ids) {
        for (std::size_t count = 0; count <= kMaxDataBytes; ++count) {
            std::vector<std::uint8_t> data;
            for (std::size_t i = 0; i < count; ++i) {
                data.push_back(static_cast<std::uint8_t>(0xF9 + i * 37));
            }
            const RequestFrame frame = encodeRequestFrame(makeRequest(id, data));
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
