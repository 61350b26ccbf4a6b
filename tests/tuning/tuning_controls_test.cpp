#include "tuning/tuning_controls.h"

#include <gtest/gtest.h>

#include "support/midi_builder.h"
#include "tuning/controls_harness.h"
#include "tuning/pure_tuning.h"
#include "tuning/scale_files.h"

namespace pitchloom {
namespace {

constexpr int kKeyG = 8;
constexpr int kKeyD = 9;
constexpr int kPentatonic = 1;
constexpr int kTemparament = 0;
constexpr int kJust = 1;
constexpr int kArabian = 3;
constexpr int kE = 4;

const std::array<ScrollCode, 10> kAllCodes = {
    ScrollCode::LineUp,        ScrollCode::LineDown,   ScrollCode::PageUp, ScrollCode::PageDown,
    ScrollCode::ThumbPosition, ScrollCode::ThumbTrack, ScrollCode::Top,    ScrollCode::Bottom,
    ScrollCode::EndScroll,     ScrollCode::Other};

class TuningControlsTest : public ::testing::Test, protected test::ControlsHarness {
protected:
    void SetUp() override {
        controls.initTuningControls();
        view.log.clear();
        view.repaints = 0;
        notesOff = 0;
        state.tuningChanged = 0;
    }
};

std::array<std::string, 12> textsOf(const Offsets& offsets) {
    std::array<std::string, 12> out;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = std::to_string(offsets[i]);
    return out;
}

TEST(TuningControlsStart, ShowsCChromaticJustIntonation) {
    test::ControlsHarness h;
    h.state.savedKeyIndex = 3;  // start-up must not trust what the state held before
    h.controls.initTuningControls();

    EXPECT_EQ(h.view.selectedRow(TuningList::Key), kDefaultKeyRow);
    EXPECT_EQ(h.view.selectedRow(TuningList::Scale), 0);
    EXPECT_EQ(h.view.selectedRow(TuningList::Tuning), kJust);
    EXPECT_EQ(h.state.keyIndex, kDefaultKeyRow);
    EXPECT_EQ(h.state.scaleIndex, 0);
    EXPECT_EQ(h.state.tuningIndex, kJust);
    EXPECT_EQ(h.state.savedKeyIndex, kDefaultKeyRow);

    EXPECT_EQ(h.view.sliderPosition(1), 8);
    EXPECT_EQ(h.view.text(1), "-8");
    EXPECT_EQ(h.state.offsetValues(), TuningTable[kJust].cents);
    EXPECT_EQ(h.view.texts(), textsOf(TuningTable[kJust].cents));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(h.view.minimum(i), -50) << i;
        EXPECT_EQ(h.view.maximum(i), 50) << i;
        EXPECT_TRUE(h.view.lit(i)) << i;
    }
    EXPECT_EQ(h.state.tuningChanged, 1);
    EXPECT_EQ(h.notesOff, 1);  // the Chromatic scale is applied once
}

TEST(TuningControlsStart, FillsTheListsInTableOrder) {
    test::ControlsHarness h;
    h.controls.initTuningControls();
    const auto& keys = h.view.labels(TuningList::Key);
    ASSERT_EQ(keys.size(), 15u);
    EXPECT_EQ(keys[7], "C");
    EXPECT_EQ(keys[14], "C#");
    const auto& scales = h.view.labels(TuningList::Scale);
    ASSERT_EQ(scales.size(), 11u);
    EXPECT_EQ(scales[1], "Pentatonic");
    EXPECT_EQ(scales[10], "Custom");
    const auto& tunings = h.view.labels(TuningList::Tuning);
    ASSERT_EQ(tunings.size(), 11u);
    EXPECT_EQ(tunings[1], "Just Intonation");
    EXPECT_EQ(tunings[8], "CUSTOM");
    EXPECT_EQ(tunings[9], "Fitted to song");
    EXPECT_EQ(tunings[10], "Adaptive just");
}

TEST_F(TuningControlsTest, CustomTuningLeavesOffsetsAndSendsNothingNew) {
    scrollAction(0, ScrollCode::PageUp);
    state.tuningChanged = 0;
    const Offsets before = state.offsetValues();
    const auto positions = view.positions();

    choose(TuningList::Tuning, kCustomTuningRow);
    EXPECT_EQ(state.offsetValues(), before);
    EXPECT_EQ(view.positions(), positions);
    EXPECT_EQ(state.tuningChanged, 0);
    EXPECT_EQ(state.tuningIndex, kCustomTuningRow);
}

TEST_F(TuningControlsTest, CustomScaleKeepsMarksButReappliesTheTuning) {
    pressKey(1);
    notesOff = 0;
    state.tuningChanged = 0;
    const ScaleMarks before = state.scaleMarks();

    choose(TuningList::Scale, kCustomScaleRow);
    EXPECT_EQ(state.scaleMarks(), before);
    EXPECT_EQ(notesOff, 0);
    EXPECT_EQ(view.repaints, 0);
    EXPECT_EQ(state.tuningChanged, 1);
    EXPECT_EQ(state.scaleIndex, kCustomScaleRow);
}

TEST_F(TuningControlsTest, BuiltInScaleLightsItsKeysSilencesAndRetunes) {
    choose(TuningList::Scale, kPentatonic);
    const ScaleMarks cdega = {1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0};
    EXPECT_EQ(state.scaleMarks(), cdega);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(view.lit(i), cdega[static_cast<std::size_t>(i)] == 1);
    EXPECT_EQ(notesOff, 1);
    EXPECT_EQ(view.repaints, 1);
    // The offsets are the same as before, yet the tuning is sent again.
    EXPECT_EQ(state.offsetValues(), TuningTable[kJust].cents);
    EXPECT_EQ(state.tuningChanged, 1);
    EXPECT_EQ(state.scaleIndex, kPentatonic);
}

TEST_F(TuningControlsTest, KeyChangeRotatesScaleAndTuning) {
    choose(TuningList::Scale, kPentatonic);
    choose(TuningList::Key, kKeyG);
    const Offsets inG = {-2, -10, 2, -6, 6, 18, -12, 0, -8, 4, 16, -14};
    EXPECT_EQ(state.offsetValues(), inG);
    EXPECT_EQ(view.texts(), textsOf(inG));
    EXPECT_EQ(view.sliderPosition(5), -18);
    const ScaleMarks degab = {0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1};
    EXPECT_EQ(state.scaleMarks(), degab);
    EXPECT_EQ(state.keyIndex, kKeyG);
}

TEST_F(TuningControlsTest, KeyChangeWithCustomScaleAndTuningChangesNothing) {
    pressKey(3);
    scrollAction(6, ScrollCode::LineUp);
    const Offsets offsets = state.offsetValues();
    const ScaleMarks marks = state.scaleMarks();
    notesOff = 0;
    state.tuningChanged = 0;

    choose(TuningList::Key, kKeyD);
    EXPECT_EQ(state.offsetValues(), offsets);
    EXPECT_EQ(state.scaleMarks(), marks);
    EXPECT_EQ(notesOff, 0);
    EXPECT_EQ(state.tuningChanged, 0);
    EXPECT_EQ(state.keyIndex, kKeyD);
}

TEST_F(TuningControlsTest, BuiltInRowsReplaceCustomEdits) {
    pressKey(0);
    scrollAction(0, ScrollCode::PageDown);
    choose(TuningList::Scale, 0);
    choose(TuningList::Tuning, kJust);
    EXPECT_EQ(state.inScale[0], 1);
    EXPECT_TRUE(view.lit(0));
    EXPECT_EQ(state.offsetValues(), TuningTable[kJust].cents);
    EXPECT_EQ(view.sliderPosition(0), 0);
}

TEST_F(TuningControlsTest, OffsetBeyondTheTravelIsShownAndSnapsOnTheFirstScroll) {
    choose(TuningList::Tuning, kArabian);
    EXPECT_EQ(state.offsets[kE], -51);
    EXPECT_EQ(view.text(kE), "-51");
    EXPECT_EQ(view.sliderPosition(kE), 50);

    controls.onSliderScroll(ScrollCode::EndScroll, 0, kE);
    EXPECT_EQ(state.offsets[kE], -50);
    EXPECT_EQ(view.text(kE), "-50");
    EXPECT_EQ(state.tuningChanged, 1);
}

TEST_F(TuningControlsTest, LineUpFromTheBottomEndOfAnArabianSlider) {
    choose(TuningList::Tuning, kArabian);
    scrollAction(kE, ScrollCode::LineUp);
    EXPECT_EQ(state.offsets[kE], -49);
    EXPECT_EQ(view.text(kE), "-49");
}

TEST_F(TuningControlsTest, LineUpAtTheTopStaysButStillMarksTheTuning) {
    scrollAction(0, ScrollCode::ThumbPosition, -50);
    state.tuningChanged = 0;
    view.log.clear();

    controls.onSliderScroll(ScrollCode::LineUp, 0, 0);
    EXPECT_EQ(view.sliderPosition(0), -50);
    EXPECT_EQ(state.offsets[0], 50);
    EXPECT_EQ(view.text(0), "50");
    EXPECT_EQ(view.count("select Tuning 8"), 1);
    EXPECT_EQ(state.tuningChanged, 0);
    controls.onSliderScroll(ScrollCode::EndScroll, 0, 0);
    EXPECT_EQ(state.tuningChanged, 1);
}

TEST_F(TuningControlsTest, PageDownThenLineUp) {
    choose(TuningList::Tuning, kTemparament);
    scrollAction(0, ScrollCode::PageDown);
    EXPECT_EQ(state.offsets[0], -10);
    EXPECT_EQ(view.text(0), "-10");
    EXPECT_EQ(view.sliderPosition(0), 10);
    scrollAction(0, ScrollCode::LineUp);
    EXPECT_EQ(state.offsets[0], -9);
    EXPECT_EQ(view.text(0), "-9");
    scrollAction(0, ScrollCode::PageUp);
    scrollAction(0, ScrollCode::LineDown);
    EXPECT_EQ(state.offsets[0], 0);
}

TEST_F(TuningControlsTest, DragChangesNothingUntilReleased) {
    controls.onSliderScroll(ScrollCode::ThumbTrack, -20, 1);
    controls.onSliderScroll(ScrollCode::ThumbTrack, -30, 1);
    EXPECT_EQ(view.sliderPosition(1), 8);
    EXPECT_EQ(state.offsets[1], -8);
    EXPECT_EQ(view.text(1), "-8");
    EXPECT_EQ(state.tuningChanged, 0);

    scrollAction(1, ScrollCode::ThumbPosition, -20);
    EXPECT_EQ(state.offsets[1], 20);
    EXPECT_EQ(view.text(1), "20");
}

TEST_F(TuningControlsTest, ReleasedBeyondTheRangeRestsAtTheEnd) {
    scrollAction(2, ScrollCode::ThumbPosition, 70);
    EXPECT_EQ(view.sliderPosition(2), 50);
    EXPECT_EQ(state.offsets[2], -50);
}

TEST_F(TuningControlsTest, EveryCodeSelectsCustomButOnlyEndScrollMarksTheTuning) {
    for (const ScrollCode code : kAllCodes) {
        choose(TuningList::Tuning, kJust);
        state.tuningChanged = 0;
        view.log.clear();
        controls.onSliderScroll(code, 0, 0);
        EXPECT_EQ(view.selectedRow(TuningList::Tuning), kCustomTuningRow);
        EXPECT_EQ(state.tuningIndex, kCustomTuningRow);
        EXPECT_EQ(view.count("text"), 12) << "all twelve boxes are rewritten";
        EXPECT_EQ(state.tuningChanged, code == ScrollCode::EndScroll ? 1 : 0);
    }
}

TEST_F(TuningControlsTest, CodesWithoutAStepLeaveTheOffset) {
    for (const ScrollCode code :
         {ScrollCode::ThumbTrack, ScrollCode::Top, ScrollCode::Bottom, ScrollCode::Other}) {
        scrollAction(3, code, -40);
        EXPECT_EQ(state.offsets[3], 16);
        EXPECT_EQ(view.sliderPosition(3), -16);
    }
}

TEST_F(TuningControlsTest, ScrollFromAnotherSliderIsIgnored) {
    for (int slider : {-1, 12, 1000}) {
        controls.onSliderScroll(ScrollCode::PageUp, 0, slider);
        controls.onSliderScroll(ScrollCode::EndScroll, 0, slider);
    }
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(state.tuningChanged, 0);
    EXPECT_EQ(view.selectedRow(TuningList::Tuning), kJust);
}

TEST_F(TuningControlsTest, KeyAddsAPitchClassAndSwitchesToCustom) {
    choose(TuningList::Scale, kPentatonic);
    notesOff = 0;
    state.tuningChanged = 0;
    const Offsets offsets = state.offsetValues();

    pressKey(1);
    EXPECT_EQ(state.inScale[1], 1);
    EXPECT_TRUE(view.lit(1));
    EXPECT_EQ(view.selectedRow(TuningList::Scale), kCustomScaleRow);
    EXPECT_EQ(state.scaleIndex, kCustomScaleRow);
    EXPECT_EQ(state.offsetValues(), offsets);
    EXPECT_EQ(state.tuningChanged, 0);
}

TEST_F(TuningControlsTest, KeyPressSilencesOnceAndShowsNoBox) {
    pressKey(4);
    EXPECT_EQ(state.inScale[kE], 0);
    EXPECT_FALSE(view.lit(kE));
    EXPECT_EQ(notesOff, 1);
    EXPECT_TRUE(dialogs.boxes().empty());
    // The notes go off after the list switches, before the box could block.
    ASSERT_GE(view.log.size(), 2u);
    EXPECT_EQ(view.log[0], "select Scale 10");
    EXPECT_EQ(view.log[1], "notes off");
}

TEST_F(TuningControlsTest, LastPitchClassIsRefusedAndStaysLit) {
    choose(TuningList::Scale, kPentatonic);
    for (int key : {2, 4, 7, 9})
        pressKey(key);
    ASSERT_EQ(state.scaleMarks(), (ScaleMarks{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    notesOff = 0;

    pressKey(0);
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_EQ(dialogs.boxes()[0].text, "Can't off all notes!");
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(state.inScale[0], 1);
    EXPECT_TRUE(view.lit(0));
    EXPECT_EQ(notesOff, 1);
    EXPECT_EQ(state.moveOntoScale(61), 72);
}

TEST_F(TuningControlsTest, KeyOutsideTheOctaveIsIgnored) {
    controls.togglePitchClass(12);
    controls.togglePitchClass(-1);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(notesOff, 0);
}

}  // namespace
}  // namespace pitchloom

namespace pitchloom {
namespace {

TEST_F(TuningControlsTest, FittedToSongFitsTheOffsetsToTheLastSongAndShowsThem) {
    // Before any song: equal temperament, to be fitted when one loads.
    choose(TuningList::Tuning, kFittedTuningRow);
    EXPECT_EQ(state.songTuning.load(), SongTuning::Fitted);
    EXPECT_EQ(state.offsetValues(), Offsets{});
    EXPECT_EQ(state.tuningChanged.load(), 1);

    const test::Bytes song = test::cMajorTriadSong();
    controls.setSongSource([&song] { return std::span<const std::uint8_t>(song); });
    state.tuningChanged = 0;
    choose(TuningList::Tuning, kFittedTuningRow);
    // The triad's just third and fifth, to the nearest cent.
    EXPECT_EQ(state.offsetValues()[0], 0);
    EXPECT_EQ(state.offsetValues()[4], -14);
    EXPECT_EQ(state.offsetValues()[7], 2);
    EXPECT_EQ(state.tuningChanged.load(), 1);
    EXPECT_EQ(view.text(4), "-14");
    EXPECT_EQ(view.positions()[4], 14);
    EXPECT_TRUE(view.slidersEnabled());
    // A slider moved makes it the custom tuning, which no song changes.
    scrollAction(0, ScrollCode::LineUp);
    EXPECT_EQ(view.selectedRow(TuningList::Tuning), kCustomTuningRow);
    EXPECT_EQ(state.songTuning.load(), SongTuning::None);
}

TEST_F(TuningControlsTest, AdaptiveJustGreysTheSlidersAndPlansEveryNoteOfTheLastSong) {
    const test::Bytes song = test::cMajorTriadSong();
    controls.setSongSource([&song] { return std::span<const std::uint8_t>(song); });
    choose(TuningList::Tuning, kAdaptiveTuningRow);
    EXPECT_EQ(state.songTuning.load(), SongTuning::Adaptive);
    EXPECT_EQ(state.offsetValues(), Offsets{});
    EXPECT_EQ(view.texts(), textsOf(Offsets{}));
    EXPECT_FALSE(view.slidersEnabled());
    EXPECT_EQ(view.sliderWhy(),
              "Adaptive just tunes every note as it starts, to sound pure with the notes around "
              "it: it has no twelve offsets to set here.");
    EXPECT_TRUE(view.keysEnabled());  // the scale still moves the notes
    const auto plan = state.notePlan();
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->size(), 3u);
    EXPECT_EQ(
        writeScaleFile(test::makeTempDir("adaptive") + "/a.sca", state, kDefaultKeyRow)->message,
        "Adaptive just gives every note a pitch of its own as the song plays: it has no "
        "twelve offsets to save.");

    choose(TuningList::Tuning, 1);
    EXPECT_TRUE(view.slidersEnabled());
    EXPECT_EQ(view.sliderWhy(), "");
    EXPECT_EQ(state.songTuning.load(), SongTuning::None);
    EXPECT_FALSE(state.notePlan());
    EXPECT_EQ(state.offsetValues(), TuningTable[1].cents);
}

}  // namespace
}  // namespace pitchloom
