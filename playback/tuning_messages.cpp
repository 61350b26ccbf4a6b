#include "playback/tuning_messages.h"

#include <algorithm>

namespace pitchloom {

std::uint8_t gsPartBlock(int part) {
    // 0x11 + 15 would be 0x20, which is no part; block 0x10 (GS part 10) is the one left over.
    return part == 15 ? 0x10 : static_cast<std::uint8_t>(0x11 + part);
}

std::uint8_t tuningDataByte(std::int32_t offset) {
    return static_cast<std::uint8_t>(std::clamp(offset, -64, 63) + 64);
}

std::size_t buildGsScaleTuning(const TuningState& tuning, int part, std::uint8_t* buf) {
    buf[0] = 0xF0;
    buf[1] = 0x15;
    buf[2] = 0x41;  // Roland
    buf[3] = 0x10;  // device ID
    buf[4] = 0x42;  // GS
    buf[5] = 0x12;  // data set
    buf[6] = 0x40;
    buf[7] = gsPartBlock(part);
    buf[8] = 0x40;  // scale tuning C
    for (std::size_t n = 0; n < kPitchClassCount; ++n) {
        buf[9 + n] = tuningDataByte(tuning.offsets[n].load());
    }
    unsigned sum = 0;
    for (std::size_t i = 6; i <= 20; ++i)
        sum += buf[i];
    buf[21] = static_cast<std::uint8_t>((128 - sum % 128) % 128);
    buf[22] = 0xF7;
    return kGsScaleTuningSize;
}

std::size_t buildXgScaleTuning(const TuningState& tuning, int part, int pitchClass,
                               std::uint8_t* buf) {
    buf[0] = 0xF0;
    buf[1] = 0x08;
    buf[2] = 0x43;  // Yamaha
    buf[3] = 0x10;  // parameter change, device number 0
    buf[4] = 0x4C;  // XG
    buf[5] = 0x08;  // multi part
    buf[6] = static_cast<std::uint8_t>(part);
    buf[7] = static_cast<std::uint8_t>(0x41 + pitchClass);
    buf[8] = tuningDataByte(tuning.offsets[static_cast<std::size_t>(pitchClass)].load());
    buf[9] = 0xF7;
    return kXgScaleTuningSize;
}

}  // namespace pitchloom
