#include "tuning/rhythm_channels.h"

#include "midifile/sysex.h"

namespace pitchloom {

void RhythmChannels::resetRhythmChannels() {
    for (auto& f : flags_)
        f.store(0, std::memory_order_relaxed);
    flags_[9].store(1, std::memory_order_relaxed);
}

void RhythmChannels::examineForRhythm(std::span<const std::uint8_t> event) {
    if (const auto body = bodyOfEvent(event)) examineBody(*body);
}

void RhythmChannels::examineBody(std::span<const std::uint8_t> body) {
    const auto part = recogniseGsRhythmPart(body);
    if (!part || part->device != 0x10 || part->block == 0x10) return;
    // Songs set every melodic part to 0 right after their reset; 0 must not make drums of them.
    flags_[static_cast<std::size_t>(part->channel)].store(part->value != 0 ? 1 : 0,
                                                          std::memory_order_relaxed);
}

bool RhythmChannels::isRhythm(int channel) const {
    return flags_[static_cast<std::size_t>(channel & 0x0F)].load(std::memory_order_relaxed) != 0;
}

}  // namespace pitchloom
