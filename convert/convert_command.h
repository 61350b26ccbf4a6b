#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "base/user_dialogs.h"
#include "convert/song_writer.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "tuning/dialect.h"
#include "tuning/note_retuner.h"
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

/// Where the Convert command tells of notes that a dialect retuning note by note could not give
/// their tuning.
enum class OffTuningNotice {
    WrittenBox,  ///< the box that says the file was written says it too (the window)
    Caller,      ///< nowhere: the caller has the report (the command line, in its own words)
};

/// How the Convert command retunes a song note by note, for a dialect that does.
struct ConvertSettings {
    RetuneSettings retune;
    /// A song with a note played off its tuning is not written (and nothing is shown).
    bool strict = false;
    OffTuningNotice notice = OffTuningNotice::WrittenBox;
};

/// What the Convert command did with a song.
struct ConvertOutcome {
    bool written = false;
    /// How its notes fared, when a dialect retuned them note by note.
    std::optional<RetuneReport> retune;
};

/// The Convert command: asks for a MIDI file, puts the tuning in front of its first note in the
/// dialects of `types` (several for players of unknown kind), moves its notes onto the scale
/// and saves it under a name the user chooses. Refused while a song plays, and when the result
/// would be too large to load again. True when a file was written; the source file is left as
/// it was. With `render`, the save dialog also offers a WAV file; choosing one puts the song
/// back as loaded and hands it to `render` instead.
/// A dialect that retunes note by note (see Dialect::noteRetuner) does so with `settings`, the
/// messages of the other types inserted first; a result that would be too large is refused.
ConvertOutcome convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning,
                           std::span<const DeviceType> types, UserDialogs& dialogs, bool playing,
                           const ConvertSettings& settings, WriteMode mode = {},
                           const RenderInstead& render = {});
/// The same with the settings every retuning starts with; true when a file was written.
bool convertSong(MidiSong& song, SongLoader& loader, TuningState& tuning,
                 std::span<const DeviceType> types, UserDialogs& dialogs, bool playing,
                 WriteMode mode = {}, const RenderInstead& render = {});

}  // namespace pitchloom
