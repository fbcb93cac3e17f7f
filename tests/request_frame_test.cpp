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

}  // namespace
