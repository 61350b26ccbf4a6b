#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pitchloom {

/// The System Exclusive messages the program builds and recognises: the scale tunings of the
/// sound module dialects, their resets and the GS rhythm part. The only place these bytes are
/// spelled out.
///
/// A message comes in one of two forms: as a file stores it (an event: F0, a variable-length
/// length, the body, F7) or as a device receives it (F0, the body, F7). The recognisers take
/// the body, the bytes between F0 (and its length) and F7.

inline constexpr int kPartCount = 16;

/// Cent offsets from equal temperament of the twelve pitch classes, C first.
using PitchClassOffsets = std::array<std::int32_t, 12>;

/// The body of an event in file form; nothing when it is not F0, a length, the body and F7.
std::optional<std::span<const std::uint8_t>> bodyOfEvent(std::span<const std::uint8_t> event);
/// The body of a message as a device receives it; nothing when it is not F0, body, F7.
std::optional<std::span<const std::uint8_t>> bodyOfMessage(std::span<const std::uint8_t> message);

// Builders. Each writes an event in file form and returns its size.

inline constexpr std::size_t kGsScaleTuningSize = 23;
inline constexpr std::size_t kXgScaleTuningSize = 10;
inline constexpr std::size_t kMtsScaleOctaveSize = 22;

/// One tuning data byte: offset + 64, kept within 0..127.
std::uint8_t tuningDataByte(std::int32_t offset);

/// The GS part block of part index 0..15: 0x11 + p for parts 0..14, and block 0x10 (GS part 10,
/// which that rule misses) for the sixteenth.
std::uint8_t gsPartBlock(int part);

/// The channel (0..15) a GS part block addresses: block 0x10 is channel 10, 0x11..0x19 are
/// channels 1..9 and 0x1A..0x1F channels 11..16. -1 for any other byte.
int channelOfGsPartBlock(std::uint8_t block);

/// The GS scale tuning of one part (F0 15 41 10 42 12 40 block 40, twelve values, checksum,
/// F7) into out (at least 23 bytes).
std::size_t buildGsScaleTuning(const PitchClassOffsets& offsets, int part, std::uint8_t* out);

/// The XG scale tuning of one part and pitch class (F0 08 43 10 4C 08 part 41+n value F7) into
/// out (at least 10 bytes).
std::size_t buildXgScaleTuning(const PitchClassOffsets& offsets, int part, int pitchClass,
                               std::uint8_t* out);

/// The MIDI Tuning Standard scale/octave tuning, 1-byte form, real time, to all devices:
/// F0 14 7F 7F 08 08 ff gg hh, twelve values (offset + 64, C first), F7, for the channels whose
/// bits are set in `channels` (bit c for channel c; ff holds 15-16, gg 8-14, hh 1-7), into out
/// (at least 22 bytes).
std::size_t buildMtsScaleOctave(const PitchClassOffsets& offsets, std::uint16_t channels,
                                std::uint8_t* out);

/// Keys in one MIDI Tuning Standard single note tuning change built here.
inline constexpr int kMtsNoteTuningKeys = 64;
inline constexpr std::size_t kMtsNoteTuningSize = 266;

/// The MIDI Tuning Standard single note tuning change, real time, to all devices, of keys
/// `firstKey` .. `firstKey` + 63 of tuning program `program`: F0 82 07 7F 7F 08 02 program 40,
/// then for each key: key, semitone, fraction MSB, fraction LSB (the pitch in 1/16384 semitones
/// above the semitone's equal-tempered pitch), F7, into out (at least 266 bytes). `cents` gives
/// each key's pitch in cents (key k of equal temperament at k * 100); each goes out as its
/// nearest whole cent, the fraction rounded up, kept within what the message says.
std::size_t buildMtsNoteTuning(const std::array<double, 128>& cents, int firstKey, int program,
                               std::uint8_t* out);

/// The single note tuning change of one key, as buildMtsNoteTuning says each key: F0 0B 7F 7F
/// 08 02 program 01 key semitone fraction-MSB fraction-LSB F7, into out (at least 13 bytes).
inline constexpr std::size_t kMtsKeyTuningSize = 13;
std::size_t buildMtsKeyTuning(int key, double cents, int program, std::uint8_t* out);

// Recognisers.

/// A Roland data set: 41 device 42 12, three address bytes, data, checksum.
struct GsDataSet {
    std::uint8_t device = 0;
    std::array<std::uint8_t, 3> address{};
    std::span<const std::uint8_t> data;
    bool checksumRight = false;
};
std::optional<GsDataSet> recogniseGsDataSet(std::span<const std::uint8_t> body);

/// A Yamaha XG parameter change: 43 1n 4C, three address bytes, one value.
struct XgParameter {
    std::uint8_t deviceNumber = 0;  // the n of 1n
    std::array<std::uint8_t, 3> address{};
    std::uint8_t value = 0;
};
std::optional<XgParameter> recogniseXgParameter(std::span<const std::uint8_t> body);
/// The channel (0..15) an XG "part mode" parameter change makes a drum part: multi part nn,
/// parameter 07, any value but 0; nothing for any other message.
std::optional<int> recogniseXgDrumPart(std::span<const std::uint8_t> body);

/// The messages after which a sound module has forgotten its scale tunings.
enum class ResetKind {
    GsReset,
    GsSystemMode,
    XgSystemOn,
    XgAllParameters,
    GmSystemOn,
    Gm2SystemOn
};
struct ResetMessage {
    ResetKind kind;
    std::uint8_t device;  // GS and GM: the device ID; XG: 0x10 + its device number
};
/// Any of the resets, for any device, whatever follows the part that names it (GS reset
/// 41 dd 42 12 40 00 7F, GS system mode set 41 dd 42 12 00 00 7F, XG System On 43 1n 4C 00 00
/// 7E 00, XG All Parameter Reset 43 1n 4C 00 00 7F 00, GM System On 7E dd 09 01, GM2 System On
/// 7E dd 09 03).
std::optional<ResetMessage> recogniseReset(std::span<const std::uint8_t> body);
/// An event in file form that is one of those resets.
bool isResetEvent(std::span<const std::uint8_t> event);
/// Exactly the XG System On for device number 0: 43 10 4C 00 00 7E 00.
bool isXgSystemOn(std::span<const std::uint8_t> body);

/// GS "use for rhythm part": 40 block 15 value (and maybe the parameters after it), for the part
/// blocks 0x10..0x1F. Value 0 makes the part play normally, 1 and 2 choose a drum map.
struct GsRhythmPart {
    std::uint8_t device = 0;
    std::uint8_t block = 0;
    int channel = -1;
    std::uint8_t value = 0;
    bool checksumRight = false;
};
std::optional<GsRhythmPart> recogniseGsRhythmPart(std::span<const std::uint8_t> body);

/// A scale tuning as a message sets it: the values (offset + 64) of consecutive pitch classes,
/// from `firstPitchClass`, for the channels in the bitmap (bit c for channel c).
struct ScaleTuning {
    std::uint8_t device = 0;  // GS: the device ID; XG: 0x10 + the device number
    std::uint16_t channels = 0;
    int firstPitchClass = 0;
    std::span<const std::uint8_t> values;
};
/// GS: 41 dd 42 12 40 block 40+n values... checksum, within the twelve pitch classes and with
/// a right checksum; nothing otherwise.
std::optional<ScaleTuning> recogniseGsScaleTuning(std::span<const std::uint8_t> body);
/// XG: 43 1n 4C 08 part 41+n value.
std::optional<ScaleTuning> recogniseXgScaleTuning(std::span<const std::uint8_t> body);
/// MIDI Tuning Standard scale/octave tuning, 1-byte form, real time (7F) or not (7E):
/// 7F dd 08 08 ff gg hh, twelve values; the device is dd.
std::optional<ScaleTuning> recogniseMtsScaleOctave(std::span<const std::uint8_t> body);

}  // namespace pitchloom
