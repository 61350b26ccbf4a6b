#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "midifile/sysex.h"
#include "tuning/song_harmony.h"
#include "tuning/tuning_tables.h"

namespace pitchloom {

/// The farthest a fitted offset lies from equal temperament: what every twelve-offset dialect
/// can send.
inline constexpr int kFittedReach = 64;

/// The twelve offsets, whole cents within ±64 and C at 0, under which the notes of a song that
/// sound together lie nearest to just intervals, weighted by the time they sound together.
PitchClassOffsets fitTemperament(std::span<const SongNote> notes, std::span<const NotePair> pairs);

/// A pitch for every note of a song, chosen knowing the whole song so that as much as can be of
/// the time notes sound together is within kPureCents of just: a note keeps its pitch while it
/// sounds; a chord struck afresh stands on equal temperament, and every ten seconds of the song
/// are held as near as can be within three cents of the first on average, so that the song does
/// not drift a comma at a time; a note struck again with nothing changed around it keeps the pitch
/// it had. Where a chord cannot be just (a diminished or augmented triad, a dominant seventh) or
/// held notes would carry the song off its pitch, a few pairs give way whole rather than all a
/// little. The offsets from equal temperament, in whole cents as the per-note dialects play them,
/// by note.
std::vector<double> planAdaptive(std::span<const SongNote> notes, std::span<const NotePair> pairs);

/// A key sounding at its own pitch, in cents from equal temperament.
struct SoundingPitch {
    int key;
    double cents;
};

/// The pitch, in whole cents from equal temperament, at which a note struck now on `key` lies
/// nearest to just against the notes sounding already, with no knowledge of what comes: what a
/// keyboard's note gets. The pitch just to one of them that is nearest just to all; 0 when none
/// sounds or none forms an interval with a just form.
double justAmong(int key, std::span<const SoundingPitch> sounding);

/// Each note's offset from equal temperament by the place of its Note On in the song's track: a
/// pitch for every note, looked up as the song plays.
class NotePlan {
public:
    NotePlan() = default;
    NotePlan(std::span<const SongNote> notes, std::span<const double> offsets);

    /// The offset of the note whose Note On is event `event` of the track; nothing for any other
    /// event.
    std::optional<double> offsetAt(std::uint32_t event) const;
    std::size_t size() const { return events_.size(); }

private:
    std::vector<std::uint32_t> events_;  // ascending
    std::vector<double> offsets_;
};

}  // namespace pitchloom
