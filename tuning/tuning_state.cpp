#include "tuning/tuning_state.h"

#include <utility>

namespace pitchloom {

TuningState::TuningState() {
    for (auto& o : offsets)
        o.store(0);
    for (auto& m : inScale)
        m.store(1);
}

bool TuningState::selectTuningRow(int tuningRow, int keyRow) {
    if (tuningRow < 0 || tuningRow >= static_cast<int>(TuningTable.size())) return false;
    const TuningRow& row = TuningTable[static_cast<std::size_t>(tuningRow)];
    if (!row.hasRow) return false;
    rotateByKey(row.cents, tonicOf(keyRow), offsets);
    tuningChanged.store(1);
    return true;
}

bool TuningState::selectScaleRow(int scaleRow, int keyRow) {
    if (scaleRow < 0 || scaleRow >= static_cast<int>(ScaleTable.size())) return false;
    const ScaleRow& row = ScaleTable[static_cast<std::size_t>(scaleRow)];
    if (!row.hasRow) return false;
    rotateByKey(row.members, tonicOf(keyRow), inScale);
    return true;
}

int TuningState::moveOntoScale(int note) const {
    return pitchloom::moveOntoScale(
        note, [this](int n) { return inScale[static_cast<std::size_t>(n % 12)].load() != 0; });
}

TuningValue TuningState::value() const {
    const Offsets offsets = offsetValues();
    TuningValue value = TuningValue::ofPitchClasses(offsets, scaleMarks());
    const auto s = scala();
    if (!s) return value;
    if (!s->twelve) {
        value.setKeys(s->keys);
        value.setPitchClassOffsets(std::nullopt);
    } else if (s->referenceShift != 0.0) {
        for (int c = 0; c < TuningValue::kChannels; ++c) {
            for (int k = 0; k < TuningValue::kKeys; ++k)
                value.setPitch(c, k, value.pitch(c, k) + s->referenceShift);
        }
        value.setPitchClassOffsets(offsets);
    }
    return value;
}

std::shared_ptr<const ScalaInForce> TuningState::scala() const {
    std::lock_guard lock(scalaMutex_);
    return scala_;
}

void TuningState::setScala(std::shared_ptr<const ScalaInForce> scala) {
    std::lock_guard lock(scalaMutex_);
    scala_ = std::move(scala);
}

std::shared_ptr<const NotePlan> TuningState::notePlan() const {
    std::lock_guard lock(scalaMutex_);
    return songTuning.load() == SongTuning::Adaptive ? plan_ : nullptr;
}

void TuningState::setNotePlan(std::shared_ptr<const NotePlan> plan) {
    std::lock_guard lock(scalaMutex_);
    plan_ = std::move(plan);
}

Offsets TuningState::offsetValues() const {
    Offsets out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = offsets[i].load();
    return out;
}

ScaleMarks TuningState::scaleMarks() const {
    ScaleMarks out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = inScale[i].load();
    return out;
}

void TuningState::setOffsets(const Offsets& values) {
    for (std::size_t i = 0; i < values.size(); ++i)
        offsets[i].store(values[i]);
}

void TuningState::setScaleMarks(const ScaleMarks& marks) {
    for (std::size_t i = 0; i < marks.size(); ++i)
        inScale[i].store(marks[i]);
}

}  // namespace pitchloom
