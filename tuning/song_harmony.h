#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pitchloom {

/// A note of a song as it sounds: on a melodic channel, from its Note On until its Note Off, or
/// until the sustain pedal lets it go; its key as it plays once moved onto the scale.
struct SongNote {
    double start = 0.0;  ///< seconds from the song's start
    double end = 0.0;
    /// The place of its Note On among the track's events, first event 0: what a player counts.
    std::uint32_t event = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;

    double seconds() const { return end - start; }
};

/// The key each key of the song plays on the melodic channels.
using KeyMove = std::array<std::uint8_t, 128>;
/// Every key plays itself.
KeyMove unmovedKeys();

/// The notes on the melodic channels of a format-0 song image (header and one track), in the
/// order they start. Channel 10 and the parts a GS message makes rhythm parts are left out.
std::vector<SongNote> songNotesOf(std::span<const std::uint8_t> image, const KeyMove& move);

/// Two notes sounding together, `low` the lower key (the one that started first where both are
/// alike), as indices into the notes, and for how long.
struct NotePair {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    double seconds = 0.0;
};

/// Every pair of the notes that sound together for some time. With more than 48 notes sounding as
/// one starts (notes left on without their Note Off), it pairs with the 48 struck last.
std::vector<NotePair> pairsOf(std::span<const SongNote> notes);

/// For each note, the other notes sounding as it starts (struck with it or before it, at most 48
/// of each), each as channel * 128 + key, in order: what "nothing changed around it" compares.
std::vector<std::vector<std::uint16_t>> keysAround(std::span<const SongNote> notes);

/// The just intervals of a size within the octave (0..11 semitones), in cents; none for
/// seconds and major sevenths, which ring no chord and have no pure form to aim at.
std::span<const double> justIntervals(int semitones);

/// How far an interval of `semitones` on the keys, sounding `cents` wide, lies from the nearest
/// just interval of its size, octaves aside: 6/5, 5/4, 4/3, 45/32 or 64/45, 3/2, 8/5, 5/3, 9/5
/// or 16/9, and unisons and octaves pure. Nothing for seconds and major sevenths.
std::optional<double> mistuning(int semitones, double cents);
/// The same for two keys sounding at `lowOffset` and `highOffset` cents from equal temperament.
std::optional<double> mistuningOf(int lowKey, double lowOffset, int highKey, double highOffset);

/// How pure a song sounds in a tuning: by the time pairs of notes sound together, how much of it
/// lies within ±2 cents of just, and the mean and worst distance from just; how far the notes
/// wander from where they start (the largest change of their mean offset from equal
/// temperament over ten seconds); and how many notes changed pitch from the same note before
/// though nothing around them changed.
struct Purity {
    std::uint64_t notes = 0;
    double pairSeconds = 0.0;  ///< the time of the pairs that have a just interval to aim at
    double pureShare = 1.0;
    double meanCents = 0.0;
    double worstCents = 0.0;
    double driftCents = 0.0;
    std::uint64_t repitched = 0;
};

/// Within this many cents of just, an interval counts as pure.
inline constexpr double kPureCents = 2.0;
/// The span over which drift is measured.
inline constexpr double kDriftWindowSeconds = 10.0;

/// The purity of the notes played at `offsets`, each note's cents from equal temperament.
Purity purityOf(std::span<const SongNote> notes, std::span<const NotePair> pairs,
                std::span<const double> offsets);

}  // namespace pitchloom
