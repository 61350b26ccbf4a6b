#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr std::size_t kScaleFileSize = 64;

/// The contents of a 64-byte scale file (little-endian): offsets C..B, in-scale marks C..B, and
/// the Key list's row when it was saved.
struct ScaleFileData {
    Offsets offsets{};
    ScaleMarks marks{};
    std::int32_t keyRow = kDefaultKeyRow;
};

/// Reads a scale file's bytes. Nothing unless exactly 64 bytes with at least one mark set.
/// Marks other than 0 count as 1; offsets are clamped to -64..+63; the key row is as stored.
std::optional<ScaleFileData> parseScaleFile(std::span<const std::uint8_t> bytes);

/// The 64 bytes of a scale file.
std::array<std::uint8_t, kScaleFileSize> serializeScaleFile(const ScaleFileData& data);

}  // namespace pitchloom
