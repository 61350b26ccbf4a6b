#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/user_dialogs.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "playback/audio/audio_file.h"
#include "tuning/dialect.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// What a render came to.
enum class RenderOutcome { Written, Failed, Cancelled };

/// What a render came to, and for a device type that retunes note by note how its notes were
/// retuned (as far as the song got).
struct RenderResult {
    RenderOutcome outcome;
    std::optional<RetuneReport> retune;
};

/// Told the share of the song rendered so far (0 to 1) about a thousand times a song; returning
/// false cancels the render.
using RenderProgress = std::function<bool(double done)>;

/// What a render plays: the loaded song, retuned by the tuning in the device type's dialect.
struct RenderParts {
    MidiSong& song;
    TuningState& tuning;
    DeviceType type;
    UserDialogs& dialogs;
    SongLoader& loader;
    /// How a dialect that retunes note by note may use the channels.
    RetuneSettings retune{};
    /// Whether a note played off its tuning fails the render, the file not written (the result
    /// says how many); nothing is shown for it.
    bool strict = false;
};

/// Plays the song into an audio file through the built-in synthesizer, clocked by samples
/// instead of a timer: the same walk, messages and retuning as Play, so the file sounds as Play
/// does. Notes still held at the end are released and their sound allowed to die away. Every
/// failure is shown through the dialogs; a failed or cancelled render leaves no file behind.
/// soundFonts: the SoundFonts to play with, the first that loads; when not given, the system's
/// General MIDI ones in their order.
RenderResult renderSong(const RenderParts& parts, const std::string& path, AudioFormat format,
                        const RenderProgress& progress = {},
                        std::optional<std::vector<std::string>> soundFonts = std::nullopt);

}  // namespace pitchloom
