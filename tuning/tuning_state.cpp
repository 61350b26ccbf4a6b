#include "tuning/tuning_state.h"

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
    return TuningValue::ofPitchClasses(offsetValues(), scaleMarks());
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
