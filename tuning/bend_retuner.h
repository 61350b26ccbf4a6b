#pragma once

#include <memory>

#include "tuning/note_retuner.h"

namespace pitchloom {

/// The bend range every channel is set to, in semitones, for a song whose own range is
/// `songSemitones` and `songCents` (its RPN 0): whole semitones, since some synthesizers ignore
/// the fine part, and one more than the song's, so that the tuning fits on top of its bends.
int bendRangeFor(int songSemitones, int songCents);

/// Retunes by pitch bend: each note plays on a channel bent by its offset from equal
/// temperament. Notes of one part that need different bends at once go to channels of their own,
/// borrowed from those the song leaves free, each made a copy of the part before its first note;
/// a channel's bend changes only while nothing sounds on it and its release guard has passed.
/// When no channel is left a note plays on the part's channel nearest in bend, and is counted.
std::unique_ptr<NoteRetuner> makeBendRetuner(const RetuneSettings& settings);

}  // namespace pitchloom
