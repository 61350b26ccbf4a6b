#pragma once

#include <cstddef>
#include <cstdint>

namespace pitchloom {

/// One channel message: its status byte and one or two data bytes.
struct ChannelMessage {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    int channel() const { return status & 0x0F; }
    /// The data bytes the status takes: one for program change and channel pressure, else two.
    std::size_t dataSize() const { return (status & 0xE0) == 0xC0 ? 1 : 2; }
    friend bool operator==(const ChannelMessage&, const ChannelMessage&) = default;
};

}  // namespace pitchloom
