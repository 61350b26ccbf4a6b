#include "playback/outputs/synth_tuning.h"

#include <algorithm>
#include <cstddef>

#include "midifile/sysex.h"

namespace pitchloom {
namespace {

constexpr std::uint8_t kAllDevices = 0x7F;
constexpr int kCentre = 64;

bool isOurDevice(std::uint8_t id) {
    return id == kSynthDeviceId || id == kAllDevices;
}

bool allDataBytes(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

// A reset counts when it is addressed to the synth, as a module would take it: GS ones with
// their checksum right, XG ones to device number 0 with nothing more to them.
bool resetsUs(const ResetMessage& reset, std::span<const std::uint8_t> body) {
    switch (reset.kind) {
        case ResetKind::GsReset:
        case ResetKind::GsSystemMode: {
            const auto set = recogniseGsDataSet(body);
            return isOurDevice(reset.device) && set && set->checksumRight &&
                   set->data.size() == 1 && (set->data[0] == 0x00 || set->data[0] == 0x7F);
        }
        case ResetKind::XgSystemOn:
        case ResetKind::XgAllParameters:
            return reset.device == kSynthDeviceId && body.size() == 7;
        case ResetKind::GmSystemOn:
        case ResetKind::Gm2SystemOn:
            return isOurDevice(reset.device) && body.size() == 4;
    }
    return false;
}

}  // namespace

SysExAction SynthTuning::apply(std::span<const std::uint8_t> message) {
    const auto body = bodyOfMessage(message);
    if (!body || body->empty() || !allDataBytes(*body)) return {};

    if (const auto reset = recogniseReset(*body)) {
        return resetsUs(*reset, *body) ? this->reset() : SysExAction{};
    }
    if (const auto part = recogniseGsRhythmPart(*body)) {
        if (!isOurDevice(part->device) || !part->checksumRight || part->value > 2 ||
            body->size() != 9) {
            return {};
        }
        SysExAction action;
        action.kind = SysExAction::Kind::RhythmPart;
        action.channel = part->channel;
        action.drum = part->value != 0;
        return action;
    }
    auto tuning = recogniseGsScaleTuning(*body);
    if (tuning && !isOurDevice(tuning->device)) tuning.reset();
    if (!tuning) {
        tuning = recogniseXgScaleTuning(*body);
        if (tuning && tuning->device != kSynthDeviceId) tuning.reset();
    }
    if (!tuning) {
        tuning = recogniseMtsScaleOctave(*body);
        if (tuning && !isOurDevice(tuning->device)) tuning.reset();
    }
    if (!tuning) return {};
    for (int channel = 0; channel < kSynthChannelCount; ++channel) {
        if (((tuning->channels >> channel) & 1u) == 0) continue;
        auto& cents = cents_[static_cast<std::size_t>(channel)];
        for (std::size_t i = 0; i < tuning->values.size(); ++i) {
            cents[static_cast<std::size_t>(tuning->firstPitchClass) + i] =
                tuning->values[i] - kCentre;
        }
    }
    SysExAction action;
    action.kind = SysExAction::Kind::TuningChanged;
    action.channels = tuning->channels;
    return action;
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
