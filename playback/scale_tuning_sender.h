#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#include "midifile/sysex.h"
#include "playback/midi_port.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

/// Sends the scale tuning in force during playback in the device type's dialect, and remembers
/// what it sent so that XG sends only the pitch classes that changed, and MTS only a message that
/// differs from the last.
class ScaleTuningSender {
public:
    /// A value no offset takes: the first send after it finds every pitch class changed.
    static constexpr std::int32_t kNothingSent = 200;

    ScaleTuningSender(const TuningState& tuning, MidiPort& port) : tuning_(tuning), port_(port) {
        forgetSent();
    }

    /// GS: sixteen messages every call. XG: sixteen per changed pitch class. MTS: one message
    /// for every channel that is no rhythm channel, unless it is the one sent last. GM: nothing.
    void sendScaleTuning(DeviceType type);
    /// Forgets what was sent (at every start of playback, and after a reset in the song).
    void forgetSent();

private:
    const TuningState& tuning_;
    MidiPort& port_;
    std::array<std::atomic<std::int32_t>, 12> sentOffsets_;  // timer thread; reset while idle
    std::mutex mtsMutex_;  // guards lastMts_ (sent on the timer thread, forgotten on either)
    std::optional<std::array<std::uint8_t, kMtsScaleOctaveSize>> lastMts_;
};

}  // namespace pitchloom
