#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "base/file_io.h"
#include "base/user_dialogs.h"
#include "convert/convert_command.h"
#include "midifile/format0_merge.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "playback/playing/player.h"
#include "tuning/dialect.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// The model a front end works on: the song and what loads it, the tuning and the device type,
/// and the player once something plays it. The window and the command-line tools each hold one,
/// as do the tests and benchmarks.
struct Session {
    explicit Session(UserDialogs& dialogs);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Makes the song buffer; false when the memory cannot be had.
    bool createSong() { return song.create(); }

    /// The Convert command on this song, tuning and device type (refused while `playing`);
    /// with `render`, the save dialog offers an audio file too (see convertSong).
    bool convert(bool playing, PipeWait pipes = PipeWait::No, const RenderInstead& render = {});
    /// The same for several device types at once, their messages one dialect after the other.
    bool convert(std::span<const DeviceType> types, bool playing, WriteMode mode = {});

    /// Makes the player of this session's song, playing through `output` on `timers`; the three
    /// must outlive the player (declare them before the session).
    Player& attachPlayer(MidiOutputProvider& output, TimerService& timers, PlaybackView& view);

    UserDialogs& dialogs;
    MidiSong song;  // no buffer until createSong() or the output's start-up makes it
    TuningState tuning;
    std::atomic<DeviceType> deviceType{DeviceType()};  // set on the window thread, read by all
    Format0Merger merger{dialogs};
    SongLoader loader{song, merger, dialogs};
    std::unique_ptr<Player> player;  // made by attachPlayer
    /// The last song loaded as it loaded (playing moves its notes in the buffer), for a tuning
    /// that follows the song chosen after it loaded; empty before the first.
    std::vector<std::uint8_t> loadedSong;
    /// Called after a load has fitted the offsets to the song (the window shows them).
    std::function<void()> offsetsFitted;
};

}  // namespace pitchloom
