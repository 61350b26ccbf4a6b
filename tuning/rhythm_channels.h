#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

namespace pitchloom {

/// Sixteen per-channel flags; notes on a flagged (rhythm) channel are never moved onto the scale.
/// The window thread resets them before playback; the timer thread sets them while it plays.
class RhythmChannels {
public:
    RhythmChannels() { resetRhythmChannels(); }

    /// Clears every flag except channel 10 (index 9).
    void resetRhythmChannels();

    /// Follows a GS "use for rhythm part" message to device 10 (file form: F0, length, body):
    /// for part blocks 0x11..0x1F the value 0 makes the part's channel melodic again and any other
    /// value makes it a rhythm channel. Block 0x10 is left to the reset, which flags channel 10.
    void examineForRhythm(std::span<const std::uint8_t> event);
    /// The same for the body of a message (the bytes between F0 and F7).
    void examineBody(std::span<const std::uint8_t> body);

    bool isRhythm(int channel) const;

private:
    std::array<std::atomic<std::uint8_t>, 16> flags_{};
};

}  // namespace pitchloom
