#include "tuning/pure_tuning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

// A key held from `start` to `end`, in milliseconds.
struct Held {
    int start;
    int end;
    int key;
};

// The notes of a song that plays the keys on channel 1, a tick a millisecond.
std::vector<SongNote> songOf(const std::vector<Held>& held) {
    // At one time Note Offs go first: a chord released as the next is struck shares nothing.
    std::vector<std::tuple<int, bool, int>> events;
    for (const Held& h : held) {
        events.emplace_back(h.start, true, h.key);
        events.emplace_back(h.end, false, h.key);
    }
    std::sort(events.begin(), events.end());
    test::TrackBuilder t;
    t.tempo(0, 1'000'000);
    int now = 0;
    for (const auto& [at, on, key] : events) {
        const auto delta = static_cast<std::uint32_t>(at - now);
        if (on) {
            t.noteOn(delta, 0, key, 100);
        } else {
            t.noteOff(delta, 0, key);
        }
        now = at;
    }
    t.endOfTrack();
    return songNotesOf(test::format0(1000, t), unmovedKeys());
}

// Block chords, each held for `ms` and released as the next is struck.
std::vector<Held> blockChords(const std::vector<std::vector<int>>& chords, int ms) {
    std::vector<Held> held;
    for (std::size_t c = 0; c < chords.size(); ++c) {
        for (int key : chords[c])
            held.push_back({static_cast<int>(c) * ms, static_cast<int>(c + 1) * ms, key});
    }
    return held;
}

constexpr int C3 = 48, G3 = 55, A3 = 57, B3 = 59, C4 = 60, D4 = 62, E4 = 64, F4 = 65, G4 = 67,
              A4 = 69;

TEST(Adaptive, AMajorTriadStandsJustAndCentredOnEqualTemperament) {
    const auto notes = songOf(blockChords({{C4, E4, G4}}, 2000));
    const auto plan = planAdaptive(notes, pairsOf(notes));
    // In whole cents: the third 386 cents above the root (just 386.3), the fifth 702 (702.0).
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0], 4.0);
    EXPECT_EQ(plan[1], -10.0);
    EXPECT_EQ(plan[2], 6.0);
}

TEST(Adaptive, ACadenceStandsEachChordJustOnItsOwn) {
    const auto notes =
        songOf(blockChords({{C4, E4, G4}, {C4, F4, A4}, {B3, D4, G4}, {C4, E4, G4}}, 1000));
    const auto pairs = pairsOf(notes);
    const auto plan = planAdaptive(notes, pairs);
    // The root of each major triad, its third and its fifth.
    const std::vector<double> expected = {4, -10, 6, 6, 4, -10, -10, 6, 4, 4, -10, 6};
    ASSERT_EQ(plan.size(), expected.size());
    for (std::size_t i = 0; i < plan.size(); ++i)
        EXPECT_EQ(plan[i], expected[i]) << "note " << i;
    const auto purity = purityOf(notes, pairs, plan);
    EXPECT_DOUBLE_EQ(purity.pureShare, 1.0);
    // The minor third of each, 316 cents against a just 315.6, lies farthest.
    EXPECT_NEAR(purity.worstCents, 0.359, 0.001);
}

TEST(Adaptive, ANoteStruckAgainOverTheSameChordKeepsItsPitch) {
    std::vector<Held> held = {{0, 4000, C3}, {0, 4000, G3}};
    for (int beat = 0; beat < 4; ++beat)
        held.push_back({beat * 1000, beat * 1000 + 900, E4});
    const auto notes = songOf(held);
    const auto pairs = pairsOf(notes);
    const auto plan = planAdaptive(notes, pairs);
    ASSERT_EQ(plan.size(), 6u);
    for (std::size_t i = 3; i < plan.size(); ++i)
        EXPECT_DOUBLE_EQ(plan[i], plan[2]);
    const auto purity = purityOf(notes, pairs, plan);
    EXPECT_EQ(purity.repitched, 0u);
    EXPECT_DOUBLE_EQ(purity.pureShare, 1.0);
}

// C, A minor, D minor, G and back, six times over in 37.5 seconds: pure all the way, the chords
// would sink a comma each time round.
std::vector<std::vector<int>> commaPump() {
    std::vector<std::vector<int>> chords;
    for (int round = 0; round < 6; ++round) {
        for (const auto& chord : {std::vector{G3, C4, E4}, std::vector{A3, C4, E4},
                                  std::vector{A3, D4, F4}, std::vector{G3, B3, D4}})
            chords.push_back(chord);
    }
    chords.push_back({G3, C4, E4});
    return chords;
}

TEST(Adaptive, ACommaPumpInBlockChordsStaysPureAndDoesNotDrift) {
    const auto notes = songOf(blockChords(commaPump(), 1500));
    const auto pairs = pairsOf(notes);
    const auto plan = planAdaptive(notes, pairs);
    for (std::size_t i = 0; i < plan.size(); ++i)
        EXPECT_EQ(plan[i], std::round(plan[i])) << "note " << i;
    const auto purity = purityOf(notes, pairs, plan);
    EXPECT_DOUBLE_EQ(purity.pureShare, 1.0);
    EXPECT_LE(purity.driftCents, 3.0);
}

TEST(Adaptive, ACommaPumpWithCommonTonesHeldGivesWayInOneChordARoundRatherThanDrift) {
    // Each key held for as long as the chords one after another keep it.
    std::vector<Held> held;
    const auto chords = commaPump();
    for (std::size_t c = 0; c < chords.size(); ++c) {
        for (int key : chords[c]) {
            if (c > 0 && std::ranges::count(chords[c - 1], key)) continue;
            std::size_t last = c;
            while (last + 1 < chords.size() && std::ranges::count(chords[last + 1], key))
                ++last;
            held.push_back({static_cast<int>(c) * 1500, static_cast<int>(last + 1) * 1500, key});
        }
    }
    const auto notes = songOf(held);
    const auto pairs = pairsOf(notes);
    const auto plan = planAdaptive(notes, pairs);
    // Whole cents, as the per-note dialects play them; the first chord's fourth 498 cents (just
    // 498.0), its third 387 (386.3), its sixth 885 (884.4).
    for (std::size_t i = 0; i < plan.size(); ++i)
        EXPECT_EQ(plan[i], std::round(plan[i])) << "note " << i;
    ASSERT_GE(plan.size(), 3u);
    EXPECT_EQ(plan[0], 12.0);
    EXPECT_EQ(plan[1], 10.0);
    EXPECT_EQ(plan[2], -3.0);
    const auto purity = purityOf(notes, pairs, plan);
    EXPECT_LE(purity.driftCents, 3.0);
    // A triad cannot give way by one pair alone, its other two fixing the third, so two pairs of
    // one chord a round do: 94.5 of the 112.5 seconds the pairs sound.
    EXPECT_NEAR(purity.pureShare, 0.84, 1e-9);
}

TEST(Fitted, AMajorKeyGetsItsJustThirdsAndFifths) {
    const auto notes =
        songOf(blockChords({{C4, E4, G4}, {C4, F4, A4}, {B3, D4, G4}, {C4, E4, G4}}, 1000));
    const auto fitted = fitTemperament(notes, pairsOf(notes));
    // C, D, E, F, G, A, B; the black keys play no note.
    EXPECT_EQ(fitted[0], 0);
    EXPECT_EQ(fitted[2], 4);
    EXPECT_EQ(fitted[4], -14);
    EXPECT_EQ(fitted[5], -2);
    EXPECT_EQ(fitted[7], 2);
    EXPECT_EQ(fitted[9], -16);
    EXPECT_EQ(fitted[11], -12);
}

}  // namespace
}  // namespace pitchloom

namespace pitchloom {
namespace {

TEST(JustAmong, AKeyboardsNoteIsJustToWhatSoundsAlready) {
    EXPECT_EQ(justAmong(64, {}), 0.0);
    const SoundingPitch c{60, 0.0};
    EXPECT_EQ(justAmong(64, std::vector{c}), -14.0);           // 5/4 above
    EXPECT_EQ(justAmong(52, std::vector{c}), -14.0);           // 8/5 below, an octave down
    EXPECT_EQ(justAmong(62, std::vector{c}), 0.0);             // a second has no just form
    const std::vector<SoundingPitch> triad{c, {64, -14.0}};
    EXPECT_EQ(justAmong(67, triad), 2.0);                      // 3/2 to C, 6/5 to E
    EXPECT_EQ(justAmong(69, triad), -16.0);                    // 5/3 to C, 4/3 to E
}

}  // namespace
}  // namespace pitchloom
