#pragma once

#include <optional>
#include <string_view>

namespace pitchloom {

/// The dialect of scale-tuning messages the sound module understands. GM at every start; lives
/// in memory only.
enum class DeviceType : int { GM = 0, GS = 1, XG = 2 };

inline std::string_view deviceTypeName(DeviceType type) {
    switch (type) {
        case DeviceType::GS:
            return "GS";
        case DeviceType::XG:
            return "XG";
        case DeviceType::GM:
            break;
    }
    return "GM";
}

inline std::optional<DeviceType> deviceTypeFromName(std::string_view name) {
    if (name == "GM") return DeviceType::GM;
    if (name == "GS") return DeviceType::GS;
    if (name == "XG") return DeviceType::XG;
    return std::nullopt;
}

}  // namespace pitchloom
