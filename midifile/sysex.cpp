#include "midifile/sysex.h"

#include <algorithm>
#include <cmath>

#include "midifile/byte_reader.h"

namespace pitchloom {

namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;

constexpr std::uint8_t kRoland = 0x41;
constexpr std::uint8_t kGsModel = 0x42;
constexpr std::uint8_t kGsDataSetCommand = 0x12;
constexpr std::uint8_t kGsDeviceId = 0x10;
constexpr std::uint8_t kGsPatchPart = 0x40;  // address high byte of the part parameters
constexpr std::uint8_t kGsRhythmPartParameter = 0x15;
constexpr std::uint8_t kGsScaleTuningC = 0x40;

constexpr std::uint8_t kYamaha = 0x43;
constexpr std::uint8_t kXgParameterChange = 0x10;  // high nibble; the low one is the device number
constexpr std::uint8_t kXgModel = 0x4C;
constexpr std::uint8_t kXgMultiPart = 0x08;
constexpr std::uint8_t kXgScaleTuningC = 0x41;

constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
constexpr std::uint8_t kUniversalRealTime = 0x7F;
constexpr std::uint8_t kGeneralMidi = 0x09;
constexpr std::uint8_t kAllDevices = 0x7F;
constexpr std::uint8_t kMidiTuning = 0x08;
constexpr std::uint8_t kScaleOctaveOneByte = 0x08;

constexpr std::int32_t kCentre = 64;
constexpr int kPitchClasses = 12;

// Channel of GS part blocks 0x10..0x1F, in block order.
constexpr std::array<int, 16> kChannelOfPartBlock = {9, 0, 1,  2,  3,  4,  5,  6,
                                                     7, 8, 10, 11, 12, 13, 14, 15};

bool startsWith(std::span<const std::uint8_t> body, std::initializer_list<std::uint8_t> prefix) {
    return body.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), body.begin());
}

}  // namespace

std::optional<std::span<const std::uint8_t>> bodyOfEvent(std::span<const std::uint8_t> event) {
    ByteReader r(event, 1);
    if (event.size() < 2 || event.front() != kSysExStart || event.back() != kSysExEnd ||
        !r.readVlq() || r.position() >= event.size()) {
        return std::nullopt;
    }
    return event.subspan(r.position(), event.size() - r.position() - 1);
}

std::optional<std::span<const std::uint8_t>> bodyOfMessage(std::span<const std::uint8_t> message) {
    if (message.size() < 2 || message.front() != kSysExStart || message.back() != kSysExEnd) {
        return std::nullopt;
    }
    return message.subspan(1, message.size() - 2);
}

std::uint8_t tuningDataByte(std::int32_t offset) {
    return static_cast<std::uint8_t>(std::clamp(offset, -kCentre, kCentre - 1) + kCentre);
}

std::uint8_t gsPartBlock(int part) {
    return part == 15 ? 0x10 : static_cast<std::uint8_t>(0x11 + part);
}

int channelOfGsPartBlock(std::uint8_t block) {
    if (block < 0x10 || block > 0x1F) return -1;
    return kChannelOfPartBlock[block - 0x10];
}

std::size_t buildGsScaleTuning(const PitchClassOffsets& offsets, int part, std::uint8_t* out) {
    out[0] = kSysExStart;
    out[1] = 0x15;
    out[2] = kRoland;
    out[3] = kGsDeviceId;
    out[4] = kGsModel;
    out[5] = kGsDataSetCommand;
    out[6] = kGsPatchPart;
    out[7] = gsPartBlock(part);
    out[8] = kGsScaleTuningC;
    for (std::size_t n = 0; n < offsets.size(); ++n)
        out[9 + n] = tuningDataByte(offsets[n]);
    unsigned sum = 0;
    for (std::size_t i = 6; i <= 20; ++i)
        sum += out[i];
    out[21] = static_cast<std::uint8_t>((128 - sum % 128) % 128);
    out[22] = kSysExEnd;
    return kGsScaleTuningSize;
}

std::size_t buildXgScaleTuning(const PitchClassOffsets& offsets, int part, int pitchClass,
                               std::uint8_t* out) {
    out[0] = kSysExStart;
    out[1] = 0x08;
    out[2] = kYamaha;
    out[3] = kXgParameterChange;
    out[4] = kXgModel;
    out[5] = kXgMultiPart;
    out[6] = static_cast<std::uint8_t>(part);
    out[7] = static_cast<std::uint8_t>(kXgScaleTuningC + pitchClass);
    out[8] = tuningDataByte(offsets[static_cast<std::size_t>(pitchClass)]);
    out[9] = kSysExEnd;
    return kXgScaleTuningSize;
}

std::size_t buildMtsScaleOctave(const PitchClassOffsets& offsets, std::uint16_t channels,
                                std::uint8_t* out) {
    out[0] = kSysExStart;
    out[1] = 0x14;
    out[2] = kUniversalRealTime;
    out[3] = kAllDevices;
    out[4] = kMidiTuning;
    out[5] = kScaleOctaveOneByte;
    out[6] = static_cast<std::uint8_t>((channels >> 14) & 0x03);
    out[7] = static_cast<std::uint8_t>((channels >> 7) & 0x7F);
    out[8] = static_cast<std::uint8_t>(channels & 0x7F);
    for (std::size_t n = 0; n < offsets.size(); ++n)
        out[9 + n] = tuningDataByte(offsets[n]);
    out[21] = kSysExEnd;
    return kMtsScaleOctaveSize;
}

namespace {

// One key of a single note tuning change: the key, its semitone and the fraction above it.
std::uint8_t* putKeyTuning(int key, double cents, std::uint8_t* at) {
    // 7F 7F 7F is "no change": the highest pitch said is one step below it.
    constexpr long kHighest = 127L * 16384 + 16382;
    // FluidSynth plays the pitch rounded down to a whole cent: the nearest whole cent, said
    // a hair above it, is heard as that cent there and within half a cent of the pitch
    // everywhere else.
    const double whole = std::round(cents);
    const double steps = std::ceil(whole * 16384.0 / 100.0 - 1e-9);
    const long value = std::clamp(static_cast<long>(steps), 0L, kHighest);
    *at++ = static_cast<std::uint8_t>(key & 0x7F);
    *at++ = static_cast<std::uint8_t>(value >> 14);
    *at++ = static_cast<std::uint8_t>((value >> 7) & 0x7F);
    *at++ = static_cast<std::uint8_t>(value & 0x7F);
    return at;
}

constexpr std::uint8_t kSingleNoteTuning = 0x02;

}  // namespace

std::size_t buildMtsNoteTuning(const std::array<double, 128>& cents, int firstKey, int program,
                               std::uint8_t* out) {
    const std::size_t bodySize = kMtsNoteTuningSize - 3;
    out[0] = kSysExStart;
    out[1] = static_cast<std::uint8_t>(0x80 | (bodySize >> 7));
    out[2] = static_cast<std::uint8_t>(bodySize & 0x7F);
    out[3] = kUniversalRealTime;
    out[4] = kAllDevices;
    out[5] = kMidiTuning;
    out[6] = kSingleNoteTuning;
    out[7] = static_cast<std::uint8_t>(program & 0x7F);
    out[8] = static_cast<std::uint8_t>(kMtsNoteTuningKeys);
    std::uint8_t* at = out + 9;
    for (int i = 0; i < kMtsNoteTuningKeys; ++i) {
        const int key = (firstKey + i) & 0x7F;
        at = putKeyTuning(key, cents[static_cast<std::size_t>(key)], at);
    }
    *at = kSysExEnd;
    return kMtsNoteTuningSize;
}

std::size_t buildMtsKeyTuning(int key, double cents, int program, std::uint8_t* out) {
    out[0] = kSysExStart;
    out[1] = static_cast<std::uint8_t>(kMtsKeyTuningSize - 2);
    out[2] = kUniversalRealTime;
    out[3] = kAllDevices;
    out[4] = kMidiTuning;
    out[5] = kSingleNoteTuning;
    out[6] = static_cast<std::uint8_t>(program & 0x7F);
    out[7] = 1;
    putKeyTuning(key, cents, out + 8)[0] = kSysExEnd;
    return kMtsKeyTuningSize;
}

std::optional<GsDataSet> recogniseGsDataSet(std::span<const std::uint8_t> body) {
    // 41 dd 42 12, three address bytes, at least one data byte, the checksum.
    constexpr std::size_t kHeader = 4;
    constexpr std::size_t kAddress = 3;
    if (body.size() < kHeader + kAddress + 2 || body[0] != kRoland || body[2] != kGsModel ||
        body[3] != kGsDataSetCommand) {
        return std::nullopt;
    }
    GsDataSet set;
    set.device = body[1];
    std::copy_n(body.begin() + kHeader, kAddress, set.address.begin());
    set.data = body.subspan(kHeader + kAddress, body.size() - kHeader - kAddress - 1);
    unsigned sum = 0;
    for (std::size_t i = kHeader; i < body.size(); ++i)
        sum += body[i];
    set.checksumRight = sum % 128 == 0;
    return set;
}

std::optional<XgParameter> recogniseXgParameter(std::span<const std::uint8_t> body) {
    if (body.size() != 7 || body[0] != kYamaha || (body[1] & 0xF0) != kXgParameterChange ||
        body[2] != kXgModel) {
        return std::nullopt;
    }
    XgParameter p;
    p.deviceNumber = body[1] & 0x0F;
    std::copy_n(body.begin() + 3, 3, p.address.begin());
    p.value = body[6];
    return p;
}

std::optional<int> recogniseXgDrumPart(std::span<const std::uint8_t> body) {
    const auto p = recogniseXgParameter(body);
    if (!p || p->address[0] != 0x08 || p->address[2] != 0x07 || p->value == 0) return std::nullopt;
    if (p->address[1] > 0x0F) return std::nullopt;
    return p->address[1];
}

std::optional<ResetMessage> recogniseReset(std::span<const std::uint8_t> body) {
    if (body.size() < 4) return std::nullopt;
    const std::uint8_t device = body[1];
    const auto rest = body.subspan(2);
    if (body[0] == kRoland) {
        if (startsWith(rest, {kGsModel, kGsDataSetCommand, 0x40, 0x00, 0x7F})) {
            return ResetMessage{ResetKind::GsReset, device};
        }
        if (startsWith(rest, {kGsModel, kGsDataSetCommand, 0x00, 0x00, 0x7F})) {
            return ResetMessage{ResetKind::GsSystemMode, device};
        }
    } else if (body[0] == kYamaha && (device & 0xF0) == kXgParameterChange) {
        if (startsWith(rest, {kXgModel, 0x00, 0x00, 0x7E, 0x00})) {
            return ResetMessage{ResetKind::XgSystemOn, device};
        }
        if (startsWith(rest, {kXgModel, 0x00, 0x00, 0x7F, 0x00})) {
            return ResetMessage{ResetKind::XgAllParameters, device};
        }
    } else if (body[0] == kUniversalNonRealTime) {
        if (startsWith(rest, {kGeneralMidi, 0x01}))
            return ResetMessage{ResetKind::GmSystemOn, device};
        if (startsWith(rest, {kGeneralMidi, 0x03})) {
            return ResetMessage{ResetKind::Gm2SystemOn, device};
        }
    }
    return std::nullopt;
}

bool isResetEvent(std::span<const std::uint8_t> event) {
    const auto body = bodyOfEvent(event);
    return body && recogniseReset(*body).has_value();
}

bool isXgSystemOn(std::span<const std::uint8_t> body) {
    constexpr std::array<std::uint8_t, 7> kXgSystemOn = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00};
    return std::equal(body.begin(), body.end(), kXgSystemOn.begin(), kXgSystemOn.end());
}

std::optional<GsRhythmPart> recogniseGsRhythmPart(std::span<const std::uint8_t> body) {
    const auto set = recogniseGsDataSet(body);
    if (!set || set->address[0] != kGsPatchPart || set->address[2] != kGsRhythmPartParameter ||
        set->data.empty()) {
        return std::nullopt;
    }
    const int channel = channelOfGsPartBlock(set->address[1]);
    if (channel < 0) return std::nullopt;
    return GsRhythmPart{set->device, set->address[1], channel, set->data[0], set->checksumRight};
}

std::optional<ScaleTuning> recogniseGsScaleTuning(std::span<const std::uint8_t> body) {
    const auto set = recogniseGsDataSet(body);
    if (!set || !set->checksumRight || set->address[0] != kGsPatchPart ||
        set->address[2] < kGsScaleTuningC) {
        return std::nullopt;
    }
    const int channel = channelOfGsPartBlock(set->address[1]);
    const int first = set->address[2] - kGsScaleTuningC;
    if (channel < 0 || first + static_cast<int>(set->data.size()) > kPitchClasses) {
        return std::nullopt;
    }
    return ScaleTuning{set->device, static_cast<std::uint16_t>(1u << channel), first, set->data};
}

std::optional<ScaleTuning> recogniseXgScaleTuning(std::span<const std::uint8_t> body) {
    const auto p = recogniseXgParameter(body);
    if (!p || p->address[0] != kXgMultiPart || p->address[1] >= kPartCount ||
        p->address[2] < kXgScaleTuningC || p->address[2] >= kXgScaleTuningC + kPitchClasses) {
        return std::nullopt;
    }
    return ScaleTuning{static_cast<std::uint8_t>(kXgParameterChange | p->deviceNumber),
                       static_cast<std::uint16_t>(1u << p->address[1]),
                       p->address[2] - kXgScaleTuningC, body.subspan(6, 1)};
}

std::optional<ScaleTuning> recogniseMtsScaleOctave(std::span<const std::uint8_t> body) {
    constexpr std::size_t kHeader = 7;
    if (body.size() != kHeader + kPitchClasses ||
        (body[0] != kUniversalRealTime && body[0] != kUniversalNonRealTime) ||
        body[2] != kMidiTuning || body[3] != kScaleOctaveOneByte || body[4] > 0x03) {
        return std::nullopt;
    }
    const auto channels =
        static_cast<std::uint16_t>(body[4] << 14 | (body[5] & 0x7F) << 7 | (body[6] & 0x7F));
    return ScaleTuning{body[1], channels, 0, body.subspan(kHeader, kPitchClasses)};
}

}  // namespace pitchloom
