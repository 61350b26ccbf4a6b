#pragma once

#include <atomic>

#include "base/user_dialogs.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "playback/outputs/midi_output.h"
#include "playback/outputs/midi_port.h"
#include "playback/playing/scale_tuning_sender.h"
#include "playback/playing/sequencer.h"
#include "playback/playing/timer_service.h"
#include "tuning/dialect.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// Playing a song: the output port, the sender of the tuning and the sequencer, wired together
/// once for the window, the render, the benchmarks and the tests alike.
class Player {
public:
    /// The song and its tuning, and what they play through.
    struct Parts {
        MidiSong& song;
        TuningState& tuning;
        const std::atomic<DeviceType>& deviceType;
        UserDialogs& dialogs;
        SongLoader& loader;
        MidiOutputProvider& output;
        TimerService& timers;
        PlaybackView& view;
    };

    explicit Player(const Parts& parts)
        : port(parts.output, parts.dialogs),
          sender(parts.tuning, port),
          sequencer({parts.song, parts.tuning, port, sender, parts.deviceType, parts.dialogs,
                     parts.loader, parts.timers, parts.view}) {}
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    MidiPort port;
    ScaleTuningSender sender;
    Sequencer sequencer;
};

}  // namespace pitchloom
