#include "midifile/sysex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <utility>
#include <vector>

namespace pitchloom {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes gs(const PitchClassOffsets& offsets, int part) {
    std::array<std::uint8_t, kGsScaleTuningSize> buf{};
    EXPECT_EQ(buildGsScaleTuning(offsets, part, buf.data()), kGsScaleTuningSize);
    return {buf.begin(), buf.end()};
}

Bytes xg(const PitchClassOffsets& offsets, int part, int pitchClass) {
    std::array<std::uint8_t, kXgScaleTuningSize> buf{};
    EXPECT_EQ(buildXgScaleTuning(offsets, part, pitchClass, buf.data()), kXgScaleTuningSize);
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
    const PitchClassOffsets zero{};
    EXPECT_EQ(gs(zero, 0), gsWith(0x11, 0x40, 0x6F));
    EXPECT_EQ(gs(zero, 1), gsWith(0x12, 0x40, 0x6E));
    EXPECT_EQ(gs(zero, 15), gsWith(0x10, 0x40, 0x70)) << "the sixteenth part is block 0x10";
}

TEST(GsScaleTuning, SumAlreadyAMultipleOf128GivesChecksumZero) {
    PitchClassOffsets offsets{};
    offsets[0] = -17;
    const Bytes event = gs(offsets, 0);
    EXPECT_EQ(event[9], 0x2F);
    EXPECT_EQ(event[21], 0x00);
}

TEST(GsScaleTuning, EveryPartHasItsOwnBlockAndAValidChecksum) {
    const PitchClassOffsets arabian{-6, 45, -2, -12, -51, -8, 43, -4, 47, 0, -10, -49};
    std::vector<int> blocks;
    for (int part = 0; part < 16; ++part) {
        const Bytes event = gs(arabian, part);
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
    PitchClassOffsets offsets{};
    offsets[0] = -50;
    offsets[11] = 50;
    EXPECT_EQ(xg(offsets, 0, 0),
              (Bytes{0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x00, 0x41, 0x0E, 0xF7}));
    EXPECT_EQ(xg(offsets, 15, 11),
              (Bytes{0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x0F, 0x4C, 0x72, 0xF7}));
}

TEST(TuningDataByte, OffsetsOutsideTheByteRangeAreClamped) {
    EXPECT_EQ(tuningDataByte(-64), 0x00);
    EXPECT_EQ(tuningDataByte(63), 0x7F);
    EXPECT_EQ(tuningDataByte(-65), 0x00);
    EXPECT_EQ(tuningDataByte(64), 0x7F);
    EXPECT_EQ(tuningDataByte(-2147483647 - 1), 0x00);
    EXPECT_EQ(tuningDataByte(2147483647), 0x7F);

    PitchClassOffsets offsets{};
    offsets[3] = 500;
    EXPECT_EQ(gs(offsets, 0)[9 + 3], 0x7F);
    EXPECT_EQ(checksumRemainder(gs(offsets, 0)), 0);
    EXPECT_EQ(xg(offsets, 0, 3)[8], 0x7F);
}

TEST(Resets, EveryKindIsKnownForAnyDeviceAndNothingElseIs) {
    const std::vector<std::pair<Bytes, ResetKind>> resets = {
        {{0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},
         ResetKind::GsReset},
        {{0xF0, 0x0A, 0x41, 0x11, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7},
         ResetKind::GsSystemMode},
        {{0xF0, 0x08, 0x43, 0x13, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, ResetKind::XgSystemOn},
        {{0xF0, 0x08, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7F, 0x00, 0xF7}, ResetKind::XgAllParameters},
        {{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, ResetKind::GmSystemOn},
        {{0xF0, 0x05, 0x7E, 0x00, 0x09, 0x03, 0xF7}, ResetKind::Gm2SystemOn},
    };
    for (const auto& [event, kind] : resets) {
        EXPECT_TRUE(isResetEvent(event));
        ASSERT_TRUE(bodyOfEvent(event));
        EXPECT_EQ(recogniseReset(*bodyOfEvent(event))->kind, kind);
    }
    const std::vector<Bytes> others = {
        {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x02, 0xF7},                    // GM System Off
        {0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x00, 0x41, 0x40, 0xF7},  // XG scale tuning
        {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x7F, 0x00, 0x40, 0xF7},
    };
    for (const Bytes& event : others)
        EXPECT_FALSE(isResetEvent(event));
    EXPECT_TRUE(isXgSystemOn(Bytes{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00}));
    EXPECT_FALSE(isXgSystemOn(Bytes{0x43, 0x11, 0x4C, 0x00, 0x00, 0x7E, 0x00}));
}

TEST(GsRhythmPart, NamesTheChannelOfItsBlockAndItsValue) {
    // 41 10 42 12 40 1A 15 vv: part block 0x1A is channel 11 (index 10).
    for (std::uint8_t value : {0, 2}) {
        const Bytes body = {
            0x41, 0x10,  0x42,
            0x12, 0x40,  0x1A,
            0x15, value, static_cast<std::uint8_t>((128 - (0x40 + 0x1A + 0x15 + value)) % 128)};
        const auto part = recogniseGsRhythmPart(body);
        ASSERT_TRUE(part);
        EXPECT_EQ(part->channel, 10);
        EXPECT_EQ(part->value, value);
        EXPECT_TRUE(part->checksumRight);
    }
    const Bytes block10 = {0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x01, 0x1A};
    EXPECT_EQ(recogniseGsRhythmPart(block10)->channel, 9);
    const Bytes scaleTuning = {0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40, 0x40, 0x2F};
    EXPECT_FALSE(recogniseGsRhythmPart(scaleTuning));
}

}  // namespace
}  // namespace pitchloom

namespace pitchloom {
namespace {

TEST(MtsScaleOctave, CarriesTwelveOffsetsForTheChannelsOfItsBitmap) {
    PitchClassOffsets offsets{};
    offsets[0] = -64;
    offsets[2] = 63;
    std::array<std::uint8_t, kMtsScaleOctaveSize> out{};
    // Every channel but 10: ff holds channels 15-16, gg 8-14, hh 1-7.
    EXPECT_EQ(buildMtsScaleOctave(offsets, 0xFDFF, out.data()), kMtsScaleOctaveSize);
    EXPECT_EQ(Bytes(out.begin(), out.end()),
              (Bytes{0xF0, 0x14, 0x7F, 0x7F, 0x08, 0x08, 0x03, 0x7B, 0x7F, 0x00, 0x40,
                     0x7F, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0xF7}));
    buildMtsScaleOctave(offsets, 0x0001, out.data());
    EXPECT_EQ(Bytes(out.begin() + 6, out.begin() + 9), (Bytes{0x00, 0x00, 0x01}));

    const auto body = bodyOfEvent(out);
    ASSERT_TRUE(body);
    const auto tuning = recogniseMtsScaleOctave(*body);
    ASSERT_TRUE(tuning);
    EXPECT_EQ(tuning->channels, 0x0001);
    EXPECT_EQ(tuning->values.size(), 12u);
    EXPECT_EQ(tuning->values[2], 0x7F);
}

TEST(MtsNoteTuning, EachKeyGoesOutAsItsWholeCentJustAboveIt) {
    std::array<double, 128> cents{};
    for (int k = 0; k < 128; ++k)
        cents[static_cast<std::size_t>(k)] = k * 100.0;
    cents[64] = 6050.0;    // key 64 at 60 and a half
    cents[65] = 6060.0;    // 9830.4 steps above 60: 9831, which FluidSynth hears as 60 cents
    cents[66] = 6869.6;    // nearest whole cent 6870: 68 and 11469 steps
    cents[67] = -10.0;     // below the lowest pitch said
    cents[127] = 13000.0;  // above the highest; 7F 7F 7F would mean "no change"
    std::array<std::uint8_t, kMtsNoteTuningSize> out{};
    EXPECT_EQ(buildMtsNoteTuning(cents, 64, 0, out.data()), 266u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 9),
              (Bytes{0xF0, 0x82, 0x07, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x40}));
    EXPECT_EQ(Bytes(out.begin() + 9, out.begin() + 9 + 20),
              (Bytes{0x40, 0x3C, 0x40, 0x00, 0x41, 0x3C, 0x4C, 0x67, 0x42, 0x44,
                     0x59, 0x4D, 0x43, 0x00, 0x00, 0x00, 0x44, 0x44, 0x00, 0x00}));
    EXPECT_EQ(Bytes(out.end() - 5, out.end()), (Bytes{0x7F, 0x7F, 0x7F, 0x7E, 0xF7}));
    // The length counts the 263 bytes after it: 7F to the end mark.
    const auto body = bodyOfEvent(out);
    ASSERT_TRUE(body);
    EXPECT_EQ(body->size(), 262u);
    buildMtsNoteTuning(cents, 0, 5, out.data());
    EXPECT_EQ(Bytes(out.begin() + 7, out.begin() + 13),
              (Bytes{0x05, 0x40, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace pitchloom
