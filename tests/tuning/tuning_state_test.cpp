#include "tuning/tuning_state.h"

#include <gtest/gtest.h>

#include <vector>

namespace pitchloom {
namespace {

std::vector<int> members(const TuningState& s) {
    std::vector<int> out;
    for (int i = 0; i < 12; ++i) {
        if (s.inScale[static_cast<std::size_t>(i)] != 0) out.push_back(i);
    }
    return out;
}

int keyRowOf(std::string_view label) {
    for (std::size_t i = 0; i < KeyTable.size(); ++i) {
        if (KeyTable[i] == label) return static_cast<int>(i);
    }
    return -1;
}

TEST(Tables, LabelsStandAsTheListsShowThem) {
    EXPECT_EQ(KeyTable.front(), "Cb");
    EXPECT_EQ(KeyTable[7], "C");
    EXPECT_EQ(KeyTable.back(), "C#");
    EXPECT_EQ(ScaleTable[2].label, "Okinawan scale");
    EXPECT_EQ(ScaleTable[10].label, "Custom");
    EXPECT_FALSE(ScaleTable[10].hasRow);
    EXPECT_EQ(TuningTable[0].label, "Temparament");
    EXPECT_EQ(TuningTable[8].label, "CUSTOM");
    EXPECT_FALSE(TuningTable[8].hasRow);
}

TEST(Tonic, EachStepDownTheKeyListIsAFifthUp) {
    const int expected[15] = {11, 6, 1, 8, 3, 10, 5, 0, 7, 2, 9, 4, 11, 6, 1};
    for (int row = 0; row < 15; ++row)
        EXPECT_EQ(tonicOf(row), expected[row]) << row;
}

TEST(Tonic, RowOutsideTheListCountsAsC) {
    EXPECT_EQ(tonicOf(-1), 0);
    EXPECT_EQ(tonicOf(15), 0);
    EXPECT_EQ(tonicOf(1000000), 0);
}

TEST(SelectTuning, JustIntonationInGRotatesOntoAbsolutePitchClasses) {
    TuningState s;
    ASSERT_TRUE(s.selectTuningRow(1, keyRowOf("G")));
    const Offsets expected = {-2, -10, 2, -6, 6, 18, -12, 0, -8, 4, 16, -14};
    EXPECT_EQ(s.offsetValues(), expected);
    EXPECT_EQ(s.tuningChanged, 1);
}

TEST(SelectTuning, CustomRowAndNoSelectionChangeNothing) {
    TuningState s;
    s.selectTuningRow(3, 7);
    s.tuningChanged = 0;
    const Offsets before = s.offsetValues();
    EXPECT_FALSE(s.selectTuningRow(8, 7));
    EXPECT_FALSE(s.selectTuningRow(-1, 7));
    EXPECT_EQ(s.offsetValues(), before);
    EXPECT_EQ(s.tuningChanged, 0);
}

TEST(SelectTuning, EqualTemperamentRaisesTheFlagEvenWhenNothingChanges) {
    TuningState s;
    EXPECT_TRUE(s.selectTuningRow(0, 7));
    EXPECT_EQ(s.offsetValues(), Offsets{});
    EXPECT_EQ(s.tuningChanged, 1);
}

TEST(SelectTuning, ArabianPutsMinus51OnTheMajorThird) {
    for (int key = 0; key < 15; ++key) {
        TuningState s;
        s.selectTuningRow(3, key);
        EXPECT_EQ(s.offsets[static_cast<std::size_t>((tonicOf(key) + 4) % 12)], -51) << key;
    }
}

TEST(SelectScale, MembersFollowTheKey) {
    TuningState s;
    ASSERT_TRUE(s.selectScaleRow(1, keyRowOf("D")));
    EXPECT_EQ(members(s), (std::vector<int>{2, 4, 6, 9, 11}));  // D E F# A B

    TuningState japanese;
    ASSERT_TRUE(japanese.selectScaleRow(7, keyRowOf("A")));
    EXPECT_EQ(members(japanese), (std::vector<int>{2, 4, 5, 9, 10}));  // D E F A A#
}

TEST(SelectScale, CustomRowLeavesTheMarks) {
    TuningState s;
    s.selectScaleRow(1, 7);
    EXPECT_FALSE(s.selectScaleRow(10, 7));
    EXPECT_FALSE(s.selectScaleRow(-1, 7));
    EXPECT_EQ(members(s), (std::vector<int>{0, 2, 4, 7, 9}));
}

TEST(SelectScale, EnharmonicKeysGiveIdenticalState) {
    const std::pair<const char*, const char*> pairs[] = {{"F#", "Gb"}, {"C#", "Db"}, {"B", "Cb"}};
    for (auto [a, b] : pairs) {
        for (int scale = 0; scale < 10; ++scale) {
            for (int tuning = 0; tuning < 8; ++tuning) {
                TuningState x, y;
                x.selectScaleRow(scale, keyRowOf(a));
                y.selectScaleRow(scale, keyRowOf(b));
                x.selectTuningRow(tuning, keyRowOf(a));
                y.selectTuningRow(tuning, keyRowOf(b));
                EXPECT_EQ(x.offsetValues(), y.offsetValues());
                EXPECT_EQ(x.scaleMarks(), y.scaleMarks());
            }
        }
    }
}

TEST(MoveOntoScale, PentatonicInCMovesUpToTheNextMember) {
    TuningState s;
    s.selectScaleRow(1, 7);
    EXPECT_EQ(s.moveOntoScale(61), 62);
    EXPECT_EQ(s.moveOntoScale(63), 64);
    EXPECT_EQ(s.moveOntoScale(65), 67);
    EXPECT_EQ(s.moveOntoScale(66), 67);
    EXPECT_EQ(s.moveOntoScale(70), 72);
    EXPECT_EQ(s.moveOntoScale(71), 72);
    EXPECT_EQ(s.moveOntoScale(60), 60);
    EXPECT_EQ(s.moveOntoScale(69), 69);
}

TEST(MoveOntoScale, ChromaticMovesNothing) {
    TuningState s;
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(s.moveOntoScale(n), n);
}

TEST(MoveOntoScale, NotesNearTheTopStayInRangeAndInTheScaleForEveryScaleAndKey) {
    for (int scale = 0; scale < 10; ++scale) {
        for (int key = 0; key < 15; ++key) {
            TuningState s;
            s.selectScaleRow(scale, key);
            for (int n = 100; n < 128; ++n) {
                const int moved = s.moveOntoScale(n);
                ASSERT_GE(moved, 0);
                ASSERT_LE(moved, 127) << "scale " << scale << " key " << key << " note " << n;
                EXPECT_NE(s.inScale[static_cast<std::size_t>(moved % 12)], 0);
                EXPECT_EQ(s.moveOntoScale(n), moved);  // a Note Off follows its Note On
            }
        }
    }
}

TEST(MoveOntoScale, PastTheTopMovesDownToTheNearestMember) {
    TuningState s;
    s.selectScaleRow(8, 7);                // whole tone in C: C D E F# G# A#
    EXPECT_EQ(s.moveOntoScale(127), 126);  // G would become 128; F# lies below
    EXPECT_EQ(s.moveOntoScale(125), 126);
}

TEST(Rhythm, ResetFlagsOnlyChannelTen) {
    RhythmChannels r;
    r.examineForRhythm(std::vector<std::uint8_t>{0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x13,
                                                 0x15, 0x02, 0x0F, 0xF7});
    r.resetRhythmChannels();
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(r.isRhythm(c), c == 9) << c;
}

TEST(Rhythm, UseForRhythmPartFlagsTheChannelOfItsBlock) {
    auto event = [](std::uint8_t block, std::uint8_t value) {
        return std::vector<std::uint8_t>{0xF0, 0x0A,  0x41, 0x10,  0x42, 0x12,
                                         0x40, block, 0x15, value, 0x0F, 0xF7};
    };
    RhythmChannels r;
    r.examineForRhythm(event(0x1A, 2));
    EXPECT_TRUE(r.isRhythm(10));
    r.examineForRhythm(event(0x13, 2));
    EXPECT_TRUE(r.isRhythm(2));
    r.examineForRhythm(event(0x1F, 1));
    EXPECT_TRUE(r.isRhythm(15));
    // 0 sets the part back to normal: songs send it for every melodic part after their reset.
    r.examineForRhythm(event(0x1F, 0));
    EXPECT_FALSE(r.isRhythm(15));
    r.examineForRhythm(event(0x11, 0));
    EXPECT_FALSE(r.isRhythm(0));

    RhythmChannels other;
    other.examineForRhythm(event(0x10, 2));  // block 0x10 is left to the reset
    other.examineForRhythm(event(0x20, 2));
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(other.isRhythm(c), c == 9) << c;
}

TEST(Rhythm, ShortOrForeignEventsFlagNothing) {
    RhythmChannels r;
    r.examineForRhythm(std::vector<std::uint8_t>{0xF0, 0x05, 0x41, 0x10, 0x42});
    r.examineForRhythm(std::vector<std::uint8_t>{0xF0, 0x0A, 0x43, 0x10, 0x42, 0x12, 0x40, 0x13,
                                                 0x15, 0x02, 0x0F, 0xF7});
    for (int c = 0; c < 16; ++c)
        EXPECT_EQ(r.isRhythm(c), c == 9) << c;
}

TEST(InitialState, EverythingInScaleNoOffsetsFlagDown) {
    TuningState s;
    EXPECT_EQ(s.offsetValues(), Offsets{});
    EXPECT_EQ(members(s).size(), 12u);
    EXPECT_EQ(s.tuningChanged, 0);
    EXPECT_EQ(s.savedKeyIndex, 7);
}

}  // namespace
}  // namespace pitchloom
