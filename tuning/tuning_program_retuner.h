#pragma once

#include <memory>

#include "tuning/note_retuner.h"

namespace pitchloom {

/// The tuning program a tuning by keys is sent to, and every melodic channel plays.
inline constexpr int kKeyTuningProgram = 0;

/// Plays a song through a tuning program that gives each key its own pitch: each melodic channel
/// selects the program (RPN 4 and 3) before its first note, and again after anything that makes
/// a module forget it; the song's own RPN selection is put back after. Notes on keys the tuning
/// gives no pitch are not played, and counted. A note with a pitch of its own (pitchNextNote)
/// retunes its key with a single note tuning change first, in a program of its channel's own
/// (program c for channel c, given the whole tuning before its first use), so that the same key
/// sounding on another channel keeps its pitch; where the key sounds on the channel already, the
/// note takes that pitch and is counted as played off its tuning.
std::unique_ptr<NoteRetuner> makeTuningProgramRetuner(const RetuneSettings& settings);

}  // namespace pitchloom
