#pragma once

#include <cstdint>
#include <span>

namespace pitchloom {

/// True for a System Exclusive event in file form (F0, its variable-length length, the body)
/// that resets a sound module's scale tuning: GS reset, GS system mode set, XG System On, GM and
/// GM2 System On, for any device number.
bool isResetMessage(std::span<const std::uint8_t> event);

}  // namespace pitchloom
