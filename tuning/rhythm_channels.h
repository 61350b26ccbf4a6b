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

    /// Flags the channel of a GS "use for rhythm part" message (file form: F0, length, body).
    void examineForRhythm(std::span<const std::uint8_t> event);

    bool isRhythm(int channel) const;

private:
    std::array<std::atomic<std::uint8_t>, 16> flags_{};
};

}  // namespace pitchloom
