#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "tuning/pure_tuning.h"
#include "tuning/song_harmony.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// The tuning that follows the song of a Tuning list row; None for every other row.
SongTuning songTuningOfRow(int tuningRow);

/// Puts a tuning that follows the song in force, or none. Adaptive stands on equal temperament
/// until a song gives its notes their pitches.
void setSongTuning(TuningState& state, SongTuning kind);

/// What the tuning that follows the song makes of a song just loaded (a format-0 image): the
/// twelve offsets fitted to it, put in force and marked for sending, or a pitch for every note;
/// nothing for any other tuning. The notes are read as they play, moved onto the scale. True
/// when the offsets changed.
bool tuneToSong(TuningState& state, std::span<const std::uint8_t> image);

/// The pitch of every note of a song (a format-0 image) under adaptive just intonation, by the
/// place of its Note On in this image's track; nothing while another tuning is in force.
std::shared_ptr<const NotePlan> notePlanOf(const TuningState& state,
                                           std::span<const std::uint8_t> image);

/// How pure the song sounds in the tuning in force.
Purity purityInForce(const TuningState& state, std::span<const std::uint8_t> image);

}  // namespace pitchloom
