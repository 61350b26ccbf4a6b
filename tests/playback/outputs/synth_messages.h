#pragma once

#include <cstdint>
#include <vector>

namespace pitchloom::test {

using SysEx = std::vector<std::uint8_t>;

/// A GS data set to device 10 at address 40 block low, as a device receives it: F0 ... checksum F7.
inline SysEx gsDataSet(std::uint8_t block, std::uint8_t low, const std::vector<int>& data) {
    SysEx m = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, block, low};
    unsigned sum = 0x40u + block + low;
    for (int d : data) {
        m.push_back(static_cast<std::uint8_t>(d));
        sum += static_cast<unsigned>(d);
    }
    m.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
    m.push_back(0xF7);
    return m;
}

/// The GS scale tuning of one part block: offsets in cents, C first.
inline SysEx gsScaleTuning(std::uint8_t block, const std::vector<int>& cents) {
    std::vector<int> data;
    for (int c : cents)
        data.push_back(c + 64);
    return gsDataSet(block, 0x40, data);
}

/// Twelve offsets, all 0 but one pitch class.
inline std::vector<int> onePitchClass(int pitchClass, int cents) {
    std::vector<int> all(12, 0);
    all[static_cast<std::size_t>(pitchClass)] = cents;
    return all;
}

/// The XG scale tuning of one pitch class of part 0..15.
inline SysEx xgScaleTuning(int part, int pitchClass, int cents) {
    return {0xF0,
            0x43,
            0x10,
            0x4C,
            0x08,
            static_cast<std::uint8_t>(part),
            static_cast<std::uint8_t>(0x41 + pitchClass),
            static_cast<std::uint8_t>(cents + 64),
            0xF7};
}

/// GS "use for rhythm part" of a part block: 0 melodic, 1 or 2 a drum map.
inline SysEx gsRhythmPart(std::uint8_t block, int value) {
    return gsDataSet(block, 0x15, {value});
}

inline const SysEx kGsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
inline const SysEx kXgSystemOn = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
inline const SysEx kGmSystemOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

}  // namespace pitchloom::test
