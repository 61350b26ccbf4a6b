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

/// What each key sounds, in cents where key k of equal temperament sounds at k * 100 (A4, key 69,
/// at 440 Hz), and whether it sounds at all.
struct KeyPitches {
    std::array<double, 128> cents{};
    std::bitset<128> sounds;
};

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

    /// Every channel's keys at these pitches, sounding or not; the in-scale marks stay.
    void setKeys(const KeyPitches& keys);

    /// The pitch of a key of a channel in cents (channel 0..15, key 0..127).
    double pitch(int channel, int key) const { return pitch_[index(channel, key)]; }
    bool inScale(int channel, int key) const { return inScale_[index(channel, key)]; }
    void setPitch(int channel, int key, double cents) { pitch_[index(channel, key)] = cents; }
    void setInScale(int channel, int key, bool in) { inScale_[index(channel, key)] = in; }

    /// Whether a key of a channel sounds at all: a keyboard mapping may leave keys unmapped.
    bool sounds(int channel, int key) const { return sounds_[index(channel, key)]; }
    void setSounds(int channel, int key, bool sounds) { sounds_[index(channel, key)] = sounds; }

    /// The twelve offsets from equal temperament of a channel, C first, when its keys sound at
    /// them in every octave and they are whole cents; nothing for any other tuning. Where the
    /// twelve offsets were given apart from the pitches, those.
    std::optional<PitchClassOffsets> pitchClassOffsets(int channel) const;
    /// Says what twelve-offset dialects send for this tuning, whatever the pitches are: a scale
    /// laid on twelve classes may sound moved as a whole where any pitch can be said, and one
    /// laid on the keys one by one has no twelve offsets at all (nothing).
    void setPitchClassOffsets(const std::optional<PitchClassOffsets>& offsets);
    /// The key a note of a channel plays when notes outside the scale move onto it.
    int moveOntoScale(int channel, int note) const;

private:
    static std::size_t index(int channel, int key) {
        return static_cast<std::size_t>(channel) * kKeys + static_cast<std::size_t>(key);
    }

    std::array<double, kChannels * kKeys> pitch_;
    std::bitset<kChannels * kKeys> inScale_;
    std::bitset<kChannels * kKeys> sounds_;
    bool offsetsGiven_ = false;
    std::optional<PitchClassOffsets> givenOffsets_;
};

}  // namespace pitchloom
