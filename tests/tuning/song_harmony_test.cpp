#include "tuning/song_harmony.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

using test::TrackBuilder;

// A quarter note of a second over 1000 ticks: every delta is in milliseconds.
TrackBuilder inMilliseconds() {
    TrackBuilder t;
    t.tempo(0, 1'000'000);
    return t;
}

std::vector<SongNote> notesOf(TrackBuilder& t) {
    t.endOfTrack();
    return songNotesOf(test::format0(1000, t), unmovedKeys());
}

SongNote note(double start, double end, std::uint8_t channel, std::uint8_t key) {
    return {start, end, 0, channel, key};
}

TEST(SongNotes, SustainPedalHoldsNotesOnAtMostThreeSecondsPastTheirNoteOff) {
    auto t = inMilliseconds();
    t.controlChange(0, 0, 64, 127)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 0, 67, 100)
        .noteOn(0, 1, 48, 100)
        .noteOff(500, 0, 67)
        .noteOff(500, 1, 48)
        .noteOff(1000, 0, 60)
        .controlChange(2000, 0, 64, 0)
        .noteOn(0, 0, 72, 100)
        .noteOff(1000, 0, 72);
    const auto notes = notesOf(t);
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_DOUBLE_EQ(notes[0].end, 4.0);  // released two seconds after its Note Off
    EXPECT_DOUBLE_EQ(notes[1].end, 3.5);  // three seconds after, though the pedal stayed down
    EXPECT_DOUBLE_EQ(notes[2].end, 1.0);  // another channel's pedal
    EXPECT_DOUBLE_EQ(notes[3].start, 4.0);
    EXPECT_DOUBLE_EQ(notes[3].end, 5.0);
}

TEST(SongNotes, AKeyStruckAgainEndsTheNoteBeforeOnItsChannelOnly) {
    auto t = inMilliseconds();
    t.noteOn(0, 0, 60, 100)
        .controlChange(0, 0, 64, 127)
        .noteOn(0, 0, 62, 100)
        .noteOff(200, 0, 62)
        .noteOn(300, 1, 60, 100)
        .noteOn(500, 0, 60, 100)
        .noteOn(0, 0, 62, 100)
        .noteOff(1000, 0, 60)
        .noteOff(0, 0, 62)
        .controlChange(0, 0, 64, 0)
        .noteOff(1000, 1, 60);
    const auto notes = notesOf(t);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_DOUBLE_EQ(notes[0].end, 1.0);  // struck again with no Note Off between
    EXPECT_DOUBLE_EQ(notes[1].end, 1.0);  // held by the pedal, struck again
    EXPECT_DOUBLE_EQ(notes[2].start, 0.5);
    EXPECT_DOUBLE_EQ(notes[2].end, 3.0);
    EXPECT_DOUBLE_EQ(notes[3].end, 2.0);
    EXPECT_DOUBLE_EQ(notes[4].end, 2.0);
}

TEST(SongNotes, ChannelTenIsLeftOutAndEventsCountOverTheWholeTrack) {
    auto t = inMilliseconds();
    t.noteOn(0, 9, 36, 100).noteOn(0, 0, 60, 100).noteOff(100, 9, 36).noteOff(900, 0, 60);
    const auto notes = notesOf(t);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].event, 2u);
    EXPECT_EQ(notes[0].channel, 0);
    EXPECT_EQ(notes[0].key, 60);
    EXPECT_DOUBLE_EQ(notes[0].end, 1.0);
}

TEST(SongNotes, PairsNameTheLowerKeyAndTheTimeTheNotesShare) {
    const std::vector<SongNote> notes = {note(0, 2, 0, 64), note(0.5, 1, 1, 48),
                                         note(1.5, 3, 0, 76), note(2, 3, 1, 76)};
    const auto pairs = pairsOf(notes);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].low, 1u);
    EXPECT_EQ(pairs[0].high, 0u);
    EXPECT_DOUBLE_EQ(pairs[0].seconds, 0.5);
    EXPECT_EQ(pairs[1].low, 0u);
    EXPECT_EQ(pairs[1].high, 2u);
    EXPECT_DOUBLE_EQ(pairs[1].seconds, 0.5);
    // Two notes of one key: the one struck first is the low one.
    EXPECT_EQ(pairs[2].low, 2u);
    EXPECT_EQ(pairs[2].high, 3u);
    EXPECT_DOUBLE_EQ(pairs[2].seconds, 1.0);
}

TEST(SongNotes, NotesLeftOnPairANewNoteWithTheFortyEightStruckLast) {
    // Sixty notes left on, one a millisecond, then one more: its pairs and its surroundings
    // are the last 48 only, so that a song without Note Offs costs no more than a full chord.
    std::vector<SongNote> notes;
    for (int i = 0; i < 61; ++i)
        notes.push_back(note(i * 0.001, 10, 0, static_cast<std::uint8_t>(i + 30)));
    const auto pairs = pairsOf(notes);
    std::size_t withLast = 0;
    std::uint32_t lowest = 60;
    for (const NotePair& p : pairs) {
        if (p.high != 60) continue;
        ++withLast;
        lowest = std::min(lowest, p.low);
    }
    EXPECT_EQ(withLast, 48u);
    EXPECT_EQ(lowest, 12u);
    EXPECT_EQ(keysAround(notes)[60].size(), 48u);
    EXPECT_EQ(keysAround(notes)[60].front(), 42u);
}

TEST(Mistuning, MeasuresFromTheNearestJustIntervalOfTheSize) {
    EXPECT_NEAR(*mistuning(10, 1010.0), 7.596, 1e-9);  // 9/5 is nearer than 16/9
    EXPECT_NEAR(*mistuning(10, 1000.0), 3.910, 1e-9);  // 16/9
    EXPECT_NEAR(*mistuning(6, 600.0), 9.776, 1e-9);    // halfway between 45/32 and 64/45
    EXPECT_NEAR(*mistuning(6, 595.0), 4.776, 1e-9);
    EXPECT_NEAR(*mistuning(6, 612.0), 2.224, 1e-9);
    EXPECT_NEAR(*mistuning(16, 1600.0), 13.686, 1e-9);  // a major tenth
    EXPECT_NEAR(*mistuning(22, 2222.0), 4.404, 1e-9);   // a minor seventh and an octave
    EXPECT_NEAR(*mistuning(-7, -700.0), 1.955, 1e-9);   // a fifth down
    EXPECT_NEAR(*mistuning(24, 2403.0), 3.0, 1e-9);
    EXPECT_NEAR(*mistuning(0, -0.5), 0.5, 1e-9);
    EXPECT_NEAR(*mistuningOf(60, 4.0, 64, -9.0), 0.686, 1e-9);
    EXPECT_NEAR(*mistuningOf(64, 2.0, 60, 0.0), 15.686, 1e-9);
}

TEST(Mistuning, SecondsAndMajorSeventhsHaveNone) {
    for (int semitones : {1, 2, 11, 13, 14, 23, -1, -2})
        EXPECT_FALSE(mistuning(semitones, semitones * 100.0)) << semitones;
}

TEST(Purity, CountsThePairTimeWithinTwoCentsOfJust) {
    // C under E and D, then under G; the seconds count for nothing.
    const std::vector<SongNote> notes = {note(0, 2, 0, 60), note(0, 1, 0, 62), note(0, 1, 0, 64),
                                         note(1, 2, 0, 67)};
    const auto purity = purityOf(notes, pairsOf(notes), std::vector<double>{0, 0, -13.686, 5});
    EXPECT_EQ(purity.notes, 4u);
    EXPECT_DOUBLE_EQ(purity.pairSeconds, 2.0);
    EXPECT_DOUBLE_EQ(purity.pureShare, 0.5);
    EXPECT_NEAR(purity.meanCents, 1.5225, 1e-9);
    EXPECT_NEAR(purity.worstCents, 3.045, 1e-9);
}

TEST(Purity, DriftComparesEveryFullTenSecondsWithTheFirst) {
    // A chord at 0 whose first note stands 12 cents up, a note a second at 1 cent up, and a last
    // note 40 cents up that no full ten seconds hold.
    std::vector<SongNote> notes = {note(0, 0.5, 0, 60), note(0, 0.5, 0, 64), note(0, 0.5, 0, 67)};
    std::vector<double> offsets = {12, 0, 0};
    for (int s = 1; s <= 20; ++s) {
        notes.push_back(note(s, s + 0.5, 0, 72));
        offsets.push_back(1);
    }
    notes.push_back(note(25, 25.5, 0, 72));
    offsets.push_back(40);
    // The first ten seconds: 21 cents over 12 notes; every later span: 1 cent a note. A span
    // begun by the chord's second note is no span of its own.
    EXPECT_NEAR(purityOf(notes, pairsOf(notes), offsets).driftCents, 0.75, 1e-9);
}

TEST(Purity, ANoteIsRepitchedOnlyWhenNothingAroundItChanged) {
    const std::vector<SongNote> notes = {note(0, 4, 0, 48), note(0, 1, 0, 64), note(1, 2, 0, 64),
                                         note(2, 3, 0, 64), note(3, 4, 0, 64), note(3, 4, 0, 67)};
    // The second E moves 0.7 cents, the third 0.4, the fourth comes with a G.
    const std::vector<double> offsets = {0, -13.7, -13.0, -12.6, -10, 0};
    EXPECT_EQ(purityOf(notes, pairsOf(notes), offsets).repitched, 1u);
    const auto around = keysAround(notes);
    EXPECT_EQ(around[2], (std::vector<std::uint16_t>{48}));
    EXPECT_EQ(around[4], (std::vector<std::uint16_t>{48, 67}));
}

}  // namespace
}  // namespace pitchloom
