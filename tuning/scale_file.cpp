#include "tuning/scale_file.h"

#include <algorithm>

namespace pitchloom {

namespace {

std::int32_t readLe32(std::span<const std::uint8_t> b, std::size_t at) {
    const std::uint32_t v =
        static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
        static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
    return static_cast<std::int32_t>(v);
}

void writeLe32(std::uint8_t* out, std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::optional<ScaleFileData> parseScaleFile(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kScaleFileSize) return std::nullopt;
    ScaleFileData d;
    bool anyMember = false;
    for (std::size_t i = 0; i < 12; ++i) {
        d.offsets[i] = std::clamp(readLe32(bytes, 4 * i), -64, 63);
        d.marks[i] = bytes[48 + i] != 0 ? 1 : 0;
        anyMember = anyMember || d.marks[i] != 0;
    }
    if (!anyMember) return std::nullopt;
    d.keyRow = readLe32(bytes, 60);
    return d;
}

std::array<std::uint8_t, kScaleFileSize> serializeScaleFile(const ScaleFileData& d) {
    std::array<std::uint8_t, kScaleFileSize> out{};
    for (std::size_t i = 0; i < 12; ++i) {
        writeLe32(&out[4 * i], d.offsets[i]);
        out[48 + i] = d.marks[i];
    }
    writeLe32(&out[60], d.keyRow);
    return out;
}

}  // namespace pitchloom
