#include "tuning/tuning_value.h"

#include <cmath>

namespace pitchloom {

TuningValue::TuningValue() {
    for (int c = 0; c < kChannels; ++c) {
        for (int k = 0; k < kKeys; ++k)
            setPitch(c, k, k * 100.0);
    }
    inScale_.set();
    sounds_.set();
}

TuningValue TuningValue::ofPitchClasses(const PitchClassOffsets& offsets, const ScaleMarks& marks) {
    TuningValue value;
    for (int c = 0; c < kChannels; ++c) {
        for (int k = 0; k < kKeys; ++k) {
            const auto pitchClass = static_cast<std::size_t>(k % kPitchClassCount);
            value.setPitch(c, k, k * 100.0 + offsets[pitchClass]);
            value.setInScale(c, k, marks[pitchClass] != 0);
        }
    }
    return value;
}

void TuningValue::setKeys(const KeyPitches& keys) {
    for (int c = 0; c < kChannels; ++c) {
        for (int k = 0; k < kKeys; ++k) {
            setPitch(c, k, keys.cents[static_cast<std::size_t>(k)]);
            setSounds(c, k, keys.sounds[static_cast<std::size_t>(k)]);
        }
    }
}

void TuningValue::setPitchClassOffsets(const std::optional<PitchClassOffsets>& offsets) {
    offsetsGiven_ = true;
    givenOffsets_ = offsets;
}

std::optional<PitchClassOffsets> TuningValue::pitchClassOffsets(int channel) const {
    if (offsetsGiven_) return givenOffsets_;
    PitchClassOffsets offsets{};
    for (int k = 0; k < kKeys; ++k) {
        const double offset = pitch(channel, k) - k * 100.0;
        const double whole = std::round(offset);
        const auto pitchClass = static_cast<std::size_t>(k % kPitchClassCount);
        if (whole != offset) return std::nullopt;
        if (k < kPitchClassCount) {
            offsets[pitchClass] = static_cast<std::int32_t>(whole);
        } else if (offsets[pitchClass] != whole) {
            return std::nullopt;
        }
    }
    return offsets;
}

int TuningValue::moveOntoScale(int channel, int note) const {
    return pitchloom::moveOntoScale(note, [&](int n) { return inScale(channel, n); });
}

}  // namespace pitchloom
