#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "midifile/sysex.h"
#include "playback/midi_port.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// Sends the scale tuning in force during playback in the device type's dialect, and remembers
/// what it sent so that XG sends only the pitch classes that changed.
class ScaleTuningSender {
public:
    /// A value no offset takes: the first send after it finds every pitch class changed.
    static constexpr std::int32_t kNothingSent = 200;

    ScaleTuningSender(const TuningState& tuning, MidiPort& port) : tuning_(tuning), port_(port) {
        forgetSent();
    }

    /// GS: sixteen messages every call. XG: sixteen per changed pitch class. GM: nothing.
    void sendScaleTuning(DeviceType type);
    /// Sets every sent offset to kNothingSent (at every start of playback).
    void forgetSent();

private:
    const TuningState& tuning_;
    MidiPort& port_;
    std::array<std::atomic<std::int32_t>, 12> sentOffsets_;  // timer thread; reset while idle
};

}  // namespace pitchloom
