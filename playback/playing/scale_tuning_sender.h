#pragma once

#include <mutex>

#include "playback/outputs/midi_port.h"
#include "tuning/dialect.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// Sends the tuning in force during playback in the device type's dialect, and remembers what it
/// sent, so that a dialect that leaves out what the module already has sends only the messages
/// that differ from the last ones.
class ScaleTuningSender {
public:
    ScaleTuningSender(const TuningState& tuning, MidiPort& port) : tuning_(tuning), port_(port) {}

    /// The dialect's messages for the tuning in force, for every channel that is no rhythm
    /// channel.
    void sendScaleTuning(DeviceType type);
    /// Forgets what was sent (at every start of playback, and after a reset in the song).
    void forgetSent();

private:
    const TuningState& tuning_;
    MidiPort& port_;
    std::mutex mutex_;  // guards sent_: sent on the timer thread, forgotten on either
    SysExList sent_;
    SysExList now_;  // the messages of this send, kept to spare their allocation next time
};

}  // namespace pitchloom
