#include "playback/tuning_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <vector>

namespace pitchloom {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes gs(const TuningState& tuning, int part) {
    std::array<std::uint8_t, kGsScaleTuningSize> buf{};
    EXPECT_EQ(buildGsScaleTuning(tuning, part, buf.data()), kGsScaleTuningSize);
    return {buf.begin(), buf.end()};
}

Bytes xg(const TuningState& tuning, int part, int pitchClass) {
    std::array<std::uint8_t, kXgScaleTuningSize> buf{};
    EXPECT_EQ(buildXgScaleTuning(tuning, part, pitchClass, buf.data()), kXgScaleTuningSize);
    return {buf.begin(), buf.end()};
}

Bytes gsWith(std::uint8_t block, std::uint8_t data, std::uint8_t checksum) {
    Bytes out{0xF0, 0x15, 0x41, 0x10, 0x42, 0x12, 0x40, block, 0x40};
    out.insert(out.end(), 12, data);
    out.push_back(checksum);
    out.push_back(0xF7);
    return out;
}

// Address and data bytes (6..20) plus the checksum must add up to a multiple of 128.
int checksumRemainder(const Bytes& event) {
    return std::accumulate(event.begin() + 6, event.begin() + 22, 0) % 128;
}

TEST(GsScaleTuning, ZeroOffsetsInPartsZeroOneAndFifteen) {
    TuningState tuning;
    EXPECT_EQ(gs(tuning, 0), gsWith(0x11, 0x40, 0x6F));
    EXPECT_EQ(gs(tuning, 1), gsWith(0x12, 0x40, 0x6E));
    EXPECT_EQ(gs(tuning, 15), gsWith(0x10, 0x40, 0x70)) << "the sixteenth part is block 0x10";
}

TEST(GsScaleTuning, SumAlreadyAMultipleOf128GivesChecksumZero) {
    TuningState tuning;
    tuning.offsets[0] = -17;
    const Bytes event = gs(tuning, 0);
    EXPECT_EQ(event[9], 0x2F);
    EXPECT_EQ(event[21], 0x00);
}

TEST(GsScaleTuning, EveryPartHasItsOwnBlockAndAValidChecksum) {
    TuningState tuning;
    tuning.setOffsets({-6, 45, -2, -12, -51, -8, 43, -4, 47, 0, -10, -49});
    std::vector<int> blocks;
    for (int part = 0; part < 16; ++part) {
        const Bytes event = gs(tuning, part);
        blocks.push_back(event[7]);
        EXPECT_EQ(checksumRemainder(event), 0) << "part " << part;
        EXPECT_EQ(event[9 + 4], 64 - 51) << "E travels as offset + 64";
    }
    std::sort(blocks.begin(), blocks.end());
    std::vector<int> expected(16);
    std::iota(expected.begin(), expected.end(), 0x10);
    EXPECT_EQ(blocks, expected);
}

TEST(XgScaleTuning, PartAndPitchClassSelectTheAddress) {
    TuningState tuning;
    tuning.offsets[0] = -50;
    tuning.offsets[11] = 50;
    EXPECT_EQ(xg(tuning, 0, 0),
              (Bytes{0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x00, 0x41, 0x0E, 0xF7}));
    EXPECT_EQ(xg(tuning, 15, 11),
              (Bytes{0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x0F, 0x4C, 0x72, 0xF7}));
}

TEST(TuningDataByte, OffsetsOutsideTheByteRangeAreClamped) {
    EXPECT_EQ(tuningDataByte(-64), 0x00);
    EXPECT_EQ(tuningDataByte(63), 0x7F);
    EXPECT_EQ(tuningDataByte(-65), 0x00);
    EXPECT_EQ(tuningDataByte(64), 0x7F);
    EXPECT_EQ(tuningDataByte(-2147483647 - 1), 0x00);
    EXPECT_EQ(tuningDataByte(2147483647), 0x7F);

    TuningState tuning;
    tuning.offsets[3] = 500;
    EXPECT_EQ(gs(tuning, 0)[9 + 3], 0x7F);
    EXPECT_EQ(checksumRemainder(gs(tuning, 0)), 0);
    EXPECT_EQ(xg(tuning, 0, 3)[8], 0x7F);
}

}  // namespace
}  // namespace pitchloom
