#include "playback/outputs/synth_tuning.h"

#include <gtest/gtest.h>

#include <random>

#include "synth_messages.h"

namespace pitchloom {
namespace {

using test::SysEx;
using Kind = SysExAction::Kind;

constexpr PitchClassCents kEqual{};

// The channel whose tuning differs from equal temperament, -1 when none or several do.
int onlyTunedChannel(const SynthTuning& tuning) {
    int found = -1;
    for (int c = 0; c < kSynthChannelCount; ++c) {
        if (tuning.channel(c) == kEqual) continue;
        if (found >= 0) return -1;
        found = c;
    }
    return found;
}

TEST(GsScaleTuning, PartBlocksAddressChannelsAsGsNumbersItsParts) {
    // Block 0x10 is GS part 10; 0x11..0x19 parts 1..9; 0x1A..0x1F parts 11..16 (channels 1-based).
    const int channelOfBlock[16] = {10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16};
    const std::vector<int> offsets = {-50, -40, -30, -20, -10, 0, 10, 20, 30, 40, 50, 63};
    for (int i = 0; i < 16; ++i) {
        SynthTuning tuning;
        const SysExAction action =
            tuning.apply(test::gsScaleTuning(static_cast<std::uint8_t>(0x10 + i), offsets));
        const int channel = channelOfBlock[i] - 1;
        EXPECT_EQ(action.kind, Kind::TuningChanged);
        EXPECT_EQ(action.channels, 1u << channel);
        EXPECT_EQ(onlyTunedChannel(tuning), channel) << "block " << 0x10 + i;
        EXPECT_EQ(tuning.channel(channel)[0], -50);
        EXPECT_EQ(tuning.channel(channel)[11], 63);
    }
}

TEST(GsScaleTuning, ChecksumDecidesWhetherTheMessageCounts) {
    SynthTuning tuning;
    // C at -17 cents in block 0x11: address and data add up to a multiple of 128, checksum 00.
    const SysEx zeroChecksum = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40, 0x2F, 0x40, 0x40,
                                0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x00, 0xF7};
    EXPECT_EQ(tuning.apply(zeroChecksum).kind, Kind::TuningChanged);
    EXPECT_EQ(tuning.channel(0)[0], -17);

    for (int delta : {1, 127}) {
        SysEx wrong = test::gsScaleTuning(0x12, test::onePitchClass(9, 50));
        wrong[wrong.size() - 2] =
            static_cast<std::uint8_t>((wrong[wrong.size() - 2] + delta) % 128);
        EXPECT_EQ(tuning.apply(wrong).kind, Kind::Other);
        EXPECT_EQ(tuning.channel(1), kEqual);
    }
}

TEST(GsScaleTuning, ShortWritesSetOnlyTheTwelveBytesTheyAddress) {
    SynthTuning tuning;
    tuning.apply(test::gsDataSet(0x11, 0x49, {64 + 50}));
    tuning.apply(test::gsDataSet(0x11, 0x4A, {64 - 10, 64 - 20}));
    tuning.apply(test::gsDataSet(0x11, 0x40, {64 + 5}));
    EXPECT_EQ(tuning.channel(0), (PitchClassCents{5, 0, 0, 0, 0, 0, 0, 0, 0, 50, -10, -20}));

    SysEx otherDevice = test::gsDataSet(0x12, 0x40, {70});
    otherDevice[2] = 0x11;
    for (const SysEx& m : {test::gsDataSet(0x12, 0x4B, {70, 70}),  // runs past B
                           test::gsDataSet(0x12, 0x3F, {70, 70}),  // starts before C
                           test::gsDataSet(0x20, 0x40, {70}),      // not a part block
                           test::gsDataSet(0x12, 0x40, {0x80}),    // a status byte among the data
                           otherDevice}) {
        EXPECT_EQ(tuning.apply(m).kind, Kind::Other);
    }
    EXPECT_EQ(onlyTunedChannel(tuning), 0);
}

TEST(XgScaleTuning, SetsOnePitchClassOfPartPlusOne) {
    SynthTuning tuning;
    const SysExAction action = tuning.apply(test::xgScaleTuning(4, 9, -30));
    EXPECT_EQ(action.kind, Kind::TuningChanged);
    EXPECT_EQ(action.channels, 1u << 4);
    tuning.apply(test::xgScaleTuning(4, 0, 12));
    EXPECT_EQ(tuning.channel(4), (PitchClassCents{12, 0, 0, 0, 0, 0, 0, 0, 0, -30, 0, 0}));

    SysEx otherDevice = test::xgScaleTuning(0, 0, 10);
    otherDevice[2] = 0x11;
    for (const SysEx& m : {test::xgScaleTuning(16, 0, 10), test::xgScaleTuning(0, -1, 10),
                           test::xgScaleTuning(0, 12, 10), otherDevice}) {
        EXPECT_EQ(tuning.apply(m).kind, Kind::Other);
    }
    EXPECT_EQ(onlyTunedChannel(tuning), 4);
}

TEST(MtsScaleOctave, TunesEveryChannelOfItsBitmapAtOnce) {
    SynthTuning tuning;
    // Real time, to all devices, channels 1 and 16: C -64, D +63.
    const SysEx message = {0xF0, 0x7F, 0x7F, 0x08, 0x08, 0x02, 0x00, 0x01, 0x00, 0x40, 0x7F,
                           0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0xF7};
    const SysExAction action = tuning.apply(message);
    EXPECT_EQ(action.kind, Kind::TuningChanged);
    EXPECT_EQ(action.channels, 0x8001u);
    EXPECT_EQ(tuning.channel(0), (PitchClassCents{-64, 0, 63, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(tuning.channel(15), tuning.channel(0));
    EXPECT_EQ(tuning.channel(1), kEqual);
    // An XG message afterwards changes its one pitch class and keeps the rest.
    tuning.apply(test::xgScaleTuning(0, 4, 20));
    EXPECT_EQ(tuning.channel(0), (PitchClassCents{-64, 0, 63, 0, 20, 0, 0, 0, 0, 0, 0, 0}));

    SysEx otherDevice = message;
    otherDevice[2] = 0x05;
    SysEx twoByteForm = message;
    twoByteForm[4] = 0x09;
    for (const SysEx& m : {otherDevice, twoByteForm})
        EXPECT_EQ(tuning.apply(m).kind, Kind::Other);
}

TEST(Resets, GsResetXgSystemOnAndGmSystemOnClearEveryChannel) {
    SysEx xgOnWithValue = test::kXgSystemOn;
    xgOnWithValue[7] = 0x01;
    const SysEx gmOff = {0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7};
    for (const SysEx& m :
         {test::kGsReset, test::kXgSystemOn, test::kGmSystemOn, xgOnWithValue, gmOff}) {
        SynthTuning tuning;
        tuning.apply(test::gsScaleTuning(0x11, test::onePitchClass(9, 50)));
        tuning.apply(test::xgScaleTuning(12, 2, -20));
        const bool isReset = m != xgOnWithValue && m != gmOff;
        EXPECT_EQ(tuning.apply(m).kind, isReset ? Kind::Reset : Kind::Other);
        EXPECT_EQ(tuning.channel(0)[9], isReset ? 0 : 50);
        EXPECT_EQ(tuning.channel(12)[2], isReset ? 0 : -20);
    }
}

TEST(RhythmPart, NamesTheChannelAndWhetherItPlaysDrums) {
    SynthTuning tuning;
    const SysExAction off = tuning.apply(test::gsRhythmPart(0x10, 0));
    EXPECT_EQ(off.kind, Kind::RhythmPart);
    EXPECT_EQ(off.channel, 9);
    EXPECT_FALSE(off.drum);
    for (int map : {1, 2}) {
        const SysExAction on = tuning.apply(test::gsRhythmPart(0x1A, map));
        EXPECT_EQ(on.kind, Kind::RhythmPart);
        EXPECT_EQ(on.channel, 10);
        EXPECT_TRUE(on.drum);
    }
    EXPECT_EQ(tuning.apply(test::gsRhythmPart(0x11, 3)).kind, Kind::Other);
}

TEST(Robustness, TruncatedOrRandomBytesNeverTune) {
    for (const SysEx& m :
         {test::gsScaleTuning(0x11, test::onePitchClass(0, 20)), test::xgScaleTuning(0, 0, 20),
          test::gsRhythmPart(0x10, 1), test::kGsReset, test::kGmSystemOn}) {
        for (std::size_t n = 0; n < m.size(); ++n) {
            SynthTuning tuning;
            // A copy of exactly n bytes, so that the sanitizers see any read past its end.
            EXPECT_EQ(tuning.apply(SysEx(m.begin(), m.begin() + static_cast<long>(n))).kind,
                      Kind::Other);
        }
    }
    std::mt19937 random(20240611);
    const std::uint8_t heads[] = {0x41, 0x43, 0x7E};
    for (int round = 0; round < 20000; ++round) {
        SysEx m(random() % 26);
        for (auto& b : m)
            b = static_cast<std::uint8_t>(random() % (round % 3 == 0 ? 256 : 128));
        if (m.size() >= 2 && round % 2 == 0) {
            m.front() = 0xF0;
            m[1] = heads[random() % 3];
            m.back() = 0xF7;
        }
        SynthTuning tuning;
        tuning.apply(test::xgScaleTuning(3, 3, 3));
        const Kind kind = tuning.apply(m).kind;
        if (kind == Kind::Other || kind == Kind::RhythmPart) {
            EXPECT_EQ(tuning.channel(3)[3], 3);
        }
    }
}

}  // namespace
}  // namespace pitchloom
