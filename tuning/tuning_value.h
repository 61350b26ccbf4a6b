#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

#include "midifile/sysex.h"
#include "tuning/tuning_tables.h"

namespace pitchloom {

using ScaleMarks = std::array<std::uint8_t, kPitchClassCount>;

/// Moves a note outside the scale up to the nearest member; when that lies above 127, down to
/// the nearest member below instead. Notes in the scale, or outside 0..127, stay; so does every
/// note of an empty scale.
template <typename InScale>
int moveOntoScale(int note, InScale inScale) {
    if (note < 0 || note > 127) return note;
    for (int n = note; n <= 127; ++n) {
        if (inScale(n)) return n;
    }
    for (int n = note - 1; n >= 0; --n) {
        if (inScale(n)) return n;
    }
    return note;
}

/// What every key of every channel sounds: its pitch in cents, where key k of equal temperament
/// sounds at k * 100 (A4, key 69, at 440 Hz), and whether the key is in the scale. The general
/// form of a tuning: twelve offsets by pitch class are one way to fill it.
class TuningValue {
public:
    static constexpr int kChannels = 16;
    static constexpr int kKeys = 128;

    /// Equal temperament, every key in the scale, on every channel.
    TuningValue();
    /// Offsets from equal temperament and in-scale marks by pitch class, alike on every channel
    /// and in every octave.
    static TuningValue ofPitchClasses(const PitchClassOffsets& offsets, const ScaleMarks& marks);

    /// The pitch of a key of a channel in cents (channel 0..15, key 0..127).
    double pitch(int channel, int key) const { return pitch_[index(channel, key)]; }
    bool inScale(int channel, int key) const { return inScale_[index(channel, key)]; }
    void setPitch(int channel, int key, double cents) { pitch_[index(channel, key)] = cents; }
    void setInScale(int channel, int key, bool in) { inScale_[index(channel, key)] = in; }

    /// The twelve offsets from equal temperament of a channel, C first, when its keys sound at
    /// them in every octave and they are whole cents; nothing for any other tuning.
    std::optional<PitchClassOffsets> pitchClassOffsets(int channel) const;
    /// The key a note of a channel plays when notes outside the scale move onto it.
    int moveOntoScale(int channel, int note) const;

private:
    static std::size_t index(int channel, int key) {
        return static_cast<std::size_t>(channel) * kKeys + static_cast<std::size_t>(key);
    }

    std::array<double, kChannels * kKeys> pitch_;
    std::bitset<kChannels * kKeys> inScale_;
};

}  // namespace pitchloom
