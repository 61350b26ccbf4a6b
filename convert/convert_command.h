#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "base/user_dialogs.h"
#include "convert/song_writer.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "tuning/dialect.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// The bytes the scale-tuning messages of a device type add to a song, each event with its
/// one-byte delta time.
std::size_t scaleTuningBytes(DeviceType type);

/// Inserts the scale-tuning messages of the tuning in force at `time`, for each device type in
/// turn, as its dialect says them for the channels that are no rhythm channels at that place.
/// False when they did not fit, or when a dialect cannot say the tuning.
bool insertScaleTuning(SongWriter& writer, const TuningState& tuning,
                       std::span<const DeviceType> types, std::uint64_t time);

/// Makes an audio file of the song as loaded (the window offers one beside the MIDI file);
/// true when it was written.
using RenderInstead = std::function<bool(const std::string& path)>;

/// The Convert command: asks for a MIDI file, puts the tuning in front of its first note in the
/// dialects of `types` (several for players of unknown kind), moves its notes onto the scale
/// and saves it under a name the user chooses. Refused while a song plays, and when the result
/// would be too large to load again. True when a file was written; the source file is left as
/// it was. With `render`, the save dialog also offers a WAV file; choosing one puts the song
/// back as loaded and hands it to `render` instead.
bool convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning,
                 std::span<const DeviceType> types, UserDialogs& dialogs, bool playing,
                 WriteMode mode = {}, const RenderInstead& render = {});

}  // namespace pitchloom
