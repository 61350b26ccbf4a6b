#pragma once

#include <cstddef>
#include <cstdint>

#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr std::size_t kGsScaleTuningSize = 23;
inline constexpr std::size_t kXgScaleTuningSize = 10;

/// The GS part block of part index p: 0x11 + p for parts 0..14, and block 0x10 (GS part 10)
/// for the sixteenth.
std::uint8_t gsPartBlock(int part);

/// One tuning data byte: offset + 64, kept within 0..127.
std::uint8_t tuningDataByte(std::int32_t offset);

/// Fills buf (at least 23 bytes) with the GS scale-tuning event of a part in file form
/// (F0, length 0x15, body, checksum, F7) from the offsets in force; returns 23.
std::size_t buildGsScaleTuning(const TuningState& tuning, int part, std::uint8_t* buf);

/// Fills buf (at least 10 bytes) with the XG scale-tuning event of one part and pitch class in
/// file form (F0, length 08, body, F7); returns 10.
std::size_t buildXgScaleTuning(const TuningState& tuning, int part, int pitchClass,
                               std::uint8_t* buf);

}  // namespace pitchloom
