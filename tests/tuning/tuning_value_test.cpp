#include "tuning/tuning_value.h"

#include <gtest/gtest.h>

#include "tuning/dialect.h"

namespace pitchloom {
namespace {

using Bytes = std::vector<std::uint8_t>;

const PitchClassOffsets kJust = {0, -8, 4, 16, -14, -2, -10, 2, -6, 6, 18, -12};
const ScaleMarks kPentatonic = {1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0};

TEST(TuningValue, TwelveOffsetsFillEveryOctaveOfEveryChannel) {
    const TuningValue value = TuningValue::ofPitchClasses(kJust, kPentatonic);
    EXPECT_EQ(value.pitch(0, 0), 0.0);
    EXPECT_EQ(value.pitch(15, 64), 6386.0);  // E4: 6400 cents, 14 flat
    EXPECT_EQ(value.pitch(9, 127), 12702.0);
    EXPECT_TRUE(value.inScale(3, 69));
    EXPECT_FALSE(value.inScale(3, 70));
    EXPECT_EQ(value.moveOntoScale(3, 61), 62);
    EXPECT_EQ(value.moveOntoScale(3, 126), 127);
    EXPECT_EQ(value.pitchClassOffsets(7), std::optional(kJust));
}

TEST(TuningValue, OnlyWholeCentsAlikeInEveryOctaveMakeTwelveOffsets) {
    TuningValue fraction = TuningValue::ofPitchClasses(kJust, kPentatonic);
    fraction.setPitch(2, 64, 6386.5);
    EXPECT_FALSE(fraction.pitchClassOffsets(2));
    EXPECT_TRUE(fraction.pitchClassOffsets(1));
    TuningValue stretched;
    stretched.setPitch(0, 127, 12701.0);  // the top G a cent sharp, its octave below not
    EXPECT_FALSE(stretched.pitchClassOffsets(0));

    // A dialect of twelve offsets refuses it and adds nothing; one that sends none takes it.
    SysExList messages;
    for (DeviceType type : {DeviceType::GS, DeviceType::XG, DeviceType::MTS}) {
        EXPECT_FALSE(dialectOf(type).tuningMessages(stretched, 0xFFFF, messages));
        EXPECT_EQ(messages.count(), 0u);
    }
    EXPECT_TRUE(dialectOf(DeviceType::GM).tuningMessages(stretched, 0xFFFF, messages));
    EXPECT_EQ(messages.count(), 0u);
}

TEST(TuningValue, MtsTunesChannelsTunedApartInMessagesOfTheirOwn) {
    TuningValue value = TuningValue::ofPitchClasses(kJust, kPentatonic);
    for (int k = 0; k < TuningValue::kKeys; ++k)
        value.setPitch(1, k, k * 100.0);  // channel 2 in equal temperament
    SysExList messages;
    ASSERT_TRUE(dialectOf(DeviceType::MTS).tuningMessages(value, 0xFDFF, messages));  // no 10
    ASSERT_EQ(messages.count(), 2u);
    EXPECT_EQ(Bytes(messages[0].begin(), messages[0].end()),
              (Bytes{0xF0, 0x14, 0x7F, 0x7F, 0x08, 0x08, 0x03, 0x7B, 0x7D, 0x40, 0x38,
                     0x44, 0x50, 0x32, 0x3E, 0x36, 0x42, 0x3A, 0x46, 0x52, 0x34, 0xF7}));
    EXPECT_EQ(Bytes(messages[1].begin(), messages[1].end()),
              (Bytes{0xF0, 0x14, 0x7F, 0x7F, 0x08, 0x08, 0x00, 0x00, 0x02, 0x40, 0x40,
                     0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0xF7}));
}

}  // namespace
}  // namespace pitchloom
