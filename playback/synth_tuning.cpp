#include "playback/synth_tuning.h"

#include <algorithm>
#include <cstddef>

namespace pitchloom {
namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;

constexpr std::uint8_t kRoland = 0x41;
constexpr std::uint8_t kGsModel = 0x42;
constexpr std::uint8_t kGsDataSet = 0x12;
constexpr std::uint8_t kGsPatchBlock = 0x40;
constexpr std::uint8_t kGsRhythmPart = 0x15;
constexpr std::uint8_t kGsScaleTuningC = 0x40;

constexpr std::uint8_t kYamaha = 0x43;
constexpr std::uint8_t kXgModel = 0x4C;
constexpr std::uint8_t kXgMultiPart = 0x08;
constexpr std::uint8_t kXgScaleTuningC = 0x41;

constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
constexpr std::uint8_t kGeneralMidi = 0x09;

constexpr int kCentre = 64;

// Channel of GS part blocks 0x10..0x1F, in block order.
constexpr std::array<int, 16> kChannelOfPartBlock = {9, 0, 1,  2,  3,  4,  5,  6,
                                                     7, 8, 10, 11, 12, 13, 14, 15};

constexpr std::uint8_t kAllDevices = 0x7F;

bool isOurDevice(std::uint8_t id) {
    return id == kSynthDeviceId || id == kAllDevices;
}

bool allDataBytes(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

SysExAction tuningOf(int channel) {
    SysExAction action;
    action.kind = SysExAction::Kind::TuningChanged;
    action.channels = static_cast<std::uint16_t>(1u << channel);
    return action;
}

// 7E id 09 01 (GM System On) and 09 03 (GM2 System On); the synth resets on both.
bool isGeneralMidiOn(std::span<const std::uint8_t> body) {
    return body.size() == 4 && body[0] == kUniversalNonRealTime && isOurDevice(body[1]) &&
           body[2] == kGeneralMidi && (body[3] == 0x01 || body[3] == 0x03);
}

}  // namespace

int channelOfGsPartBlock(std::uint8_t block) {
    if (block < 0x10 || block > 0x1F) return -1;
    return kChannelOfPartBlock[block - 0x10];
}

SysExAction SynthTuning::apply(std::span<const std::uint8_t> message) {
    if (message.size() < 3 || message.front() != kSysExStart || message.back() != kSysExEnd) {
        return {};
    }
    const auto body = message.subspan(1, message.size() - 2);
    if (!allDataBytes(body)) return {};
    switch (body[0]) {
        case kRoland:
            return applyGs(body);
        case kYamaha:
            return applyXg(body);
        default:
            return isGeneralMidiOn(body) ? reset() : SysExAction{};
    }
}

// 41 dev 42 12, three address bytes, one or more data bytes, checksum.
SysExAction SynthTuning::applyGs(std::span<const std::uint8_t> body) {
    constexpr std::size_t kHeader = 4;
    constexpr std::size_t kAddress = 3;
    if (body.size() < kHeader + kAddress + 2 || !isOurDevice(body[1]) || body[2] != kGsModel ||
        body[3] != kGsDataSet) {
        return {};
    }
    unsigned sum = 0;
    for (std::size_t i = kHeader; i < body.size(); ++i)
        sum += body[i];
    if (sum % 128 != 0) return {};

    const std::uint8_t high = body[4];
    const std::uint8_t middle = body[5];
    const std::uint8_t low = body[6];
    const auto data = body.subspan(kHeader + kAddress, body.size() - kHeader - kAddress - 1);

    // 40 00 7F is the mode set: 00 is the GS reset, 7F the single-module mode, and both reset.
    if (high == 0x40 && middle == 0x00 && low == 0x7F) {
        return data.size() == 1 && (data[0] == 0x00 || data[0] == 0x7F) ? reset() : SysExAction{};
    }
    const int channel = channelOfGsPartBlock(middle);
    if (high != kGsPatchBlock || channel < 0) return {};

    if (low == kGsRhythmPart && data.size() == 1 && data[0] <= 2) {
        SysExAction action;
        action.kind = SysExAction::Kind::RhythmPart;
        action.channel = channel;
        action.drum = data[0] != 0;
        return action;
    }
    if (low < kGsScaleTuningC) return {};
    const std::size_t first = low - kGsScaleTuningC;
    if (first + data.size() > 12) return {};
    auto& cents = cents_[static_cast<std::size_t>(channel)];
    for (std::size_t i = 0; i < data.size(); ++i)
        cents[first + i] = data[i] - kCentre;
    return tuningOf(channel);
}

// 43 1n 4C, three address bytes, one data byte; 1n is a parameter change for device number n.
SysExAction SynthTuning::applyXg(std::span<const std::uint8_t> body) {
    if (body.size() != 7 || body[1] != kSynthDeviceId || body[2] != kXgModel) return {};
    const std::uint8_t high = body[3];
    const std::uint8_t middle = body[4];
    const std::uint8_t low = body[5];
    const std::uint8_t value = body[6];

    // 00 00 7E is XG System On, 00 00 7F the reset of all parameters.
    if (high == 0x00 && middle == 0x00 && (low == 0x7E || low == 0x7F)) {
        return value == 0 ? reset() : SysExAction{};
    }
    if (high != kXgMultiPart || middle >= kSynthChannelCount || low < kXgScaleTuningC ||
        low >= kXgScaleTuningC + 12) {
        return {};
    }
    cents_[middle][static_cast<std::size_t>(low - kXgScaleTuningC)] = value - kCentre;
    return tuningOf(middle);
}

SysExAction SynthTuning::reset() {
    clear();
    SysExAction action;
    action.kind = SysExAction::Kind::Reset;
    return action;
}

const PitchClassCents& SynthTuning::channel(int channel) const {
    return cents_.at(static_cast<std::size_t>(channel));
}

void SynthTuning::clear() {
    for (auto& cents : cents_)
        cents.fill(0);
}

}  // namespace pitchloom
