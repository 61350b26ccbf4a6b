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

/// Status kinds (the high nibble) and controller numbers of the channel messages.
namespace midi {
inline constexpr std::uint8_t kNoteOff = 0x80;
inline constexpr std::uint8_t kNoteOn = 0x90;
inline constexpr std::uint8_t kPolyPressure = 0xA0;
inline constexpr std::uint8_t kControl = 0xB0;
inline constexpr std::uint8_t kProgram = 0xC0;
inline constexpr std::uint8_t kPitchBend = 0xE0;

inline constexpr std::uint8_t kDataEntry = 6;
inline constexpr std::uint8_t kDataEntryFine = 38;
inline constexpr std::uint8_t kSustain = 64;
inline constexpr std::uint8_t kDataIncrement = 96;
inline constexpr std::uint8_t kDataDecrement = 97;
inline constexpr std::uint8_t kNrpnFine = 98;
inline constexpr std::uint8_t kNrpnCoarse = 99;
inline constexpr std::uint8_t kRpnFine = 100;
inline constexpr std::uint8_t kRpnCoarse = 101;
inline constexpr std::uint8_t kAllSoundOff = 120;
inline constexpr std::uint8_t kResetControllers = 121;
inline constexpr std::uint8_t kAllNotesOff = 123;
inline constexpr std::uint8_t kOmniOff = 124;
inline constexpr std::uint8_t kOmniOn = 125;
inline constexpr std::uint8_t kMono = 126;
inline constexpr std::uint8_t kPoly = 127;
/// A parameter number of 127 selects no parameter.
inline constexpr std::uint8_t kNull = 127;
}  // namespace midi

}  // namespace pitchloom
