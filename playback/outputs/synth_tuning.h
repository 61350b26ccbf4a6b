#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace pitchloom {

inline constexpr int kSynthChannelCount = 16;

/// The device ID the synth answers, besides 7F (all devices): the default of GS and XG modules.
inline constexpr std::uint8_t kSynthDeviceId = 0x10;

/// Cent offsets from equal temperament of the twelve pitch classes, C first.
using PitchClassCents = std::array<int, 12>;

/// What one System Exclusive message asks of the built-in synthesizer.
struct SysExAction {
    enum class Kind {
        Other,          ///< Not a message of ours; the synth's own handling decides.
        TuningChanged,  ///< The scale tuning of the channels in `channels` changed.
        Reset,          ///< GS reset, XG System On or GM System On: every tuning is back at 0.
        RhythmPart,     ///< `channel` becomes a drum channel (`drum`) or a melodic one.
    };

    Kind kind = Kind::Other;
    std::uint16_t channels = 0;  ///< TuningChanged: bit c set for channel c (0..15).
    int channel = -1;            ///< RhythmPart: the channel, 0..15.
    bool drum = false;           ///< RhythmPart: true for a drum channel.
};

/// The scale tuning of each of the sixteen channels, as GS, XG and MIDI Tuning Standard
/// scale/octave messages to kSynthDeviceId (or to all devices) set it.
class SynthTuning {
public:
    /// Reads one message as a device receives it (F0, body, F7), updates the tunings and says
    /// what the message was. Any bytes are safe; nothing outside the span is read.
    SysExAction apply(std::span<const std::uint8_t> message);

    /// The offsets of channel 0..15.
    const PitchClassCents& channel(int channel) const;

    /// Every channel back to equal temperament.
    void clear();

private:
    SysExAction reset();

    std::array<PitchClassCents, kSynthChannelCount> cents_{};
};

}  // namespace pitchloom
