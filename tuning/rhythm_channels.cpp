#include "tuning/rhythm_channels.h"

namespace pitchloom {

void RhythmChannels::resetRhythmChannels() {
    for (auto& f : flags_)
        f.store(0, std::memory_order_relaxed);
    flags_[9].store(1, std::memory_order_relaxed);
}

void RhythmChannels::examineForRhythm(std::span<const std::uint8_t> e) {
    if (e.size() < 9) return;
    if (e[2] != 0x41 || e[3] != 0x10 || e[4] != 0x42 || e[5] != 0x12 || e[6] != 0x40) return;
    const std::uint8_t block = e[7];
    if (e[8] != 0x15 || block < 0x11 || block > 0x1F) return;
    // Blocks 0x11..0x19 are channels 1..9, 0x1A..0x1F channels 11..16; block 0x10 is left alone.
    const int index = block <= 0x19 ? block - 0x11 : block - 0x10;
    flags_[static_cast<std::size_t>(index)].store(1, std::memory_order_relaxed);
}

bool RhythmChannels::isRhythm(int channel) const {
    return flags_[static_cast<std::size_t>(channel & 0x0F)].load(std::memory_order_relaxed) != 0;
}

}  // namespace pitchloom
