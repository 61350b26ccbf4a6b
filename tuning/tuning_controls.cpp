#include "tuning/tuning_controls.h"
#include "base/messages.h"
#include "tuning/scale_files.h"
#include "tuning/song_tuning.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace pitchloom {

namespace {

template <typename Table>
std::vector<std::string_view> labelsOf(const Table& table) {
    std::vector<std::string_view> labels;
    for (const auto& row : table)
        labels.push_back(row.label);
    return labels;
}

constexpr std::string_view kAdaptiveSliders =
    "Adaptive just tunes every note as it starts, to sound pure with the notes around it: it has "
    "no twelve offsets to set here.";

bool isPitchClass(int i) {
    return i >= 0 && i < kPitchClassCount;
}

// A row that puts its own values in force, not the custom row that keeps what is there.
template <typename Table>
bool isBuiltInRow(const Table& table, int row) {
    return row >= 0 && row < static_cast<int>(table.size()) &&
           table[static_cast<std::size_t>(row)].hasRow;
}

}  // namespace

TuningControls::TuningControls(TuningState& state, TuningView& view, UserDialogs& dialogs,
                               std::function<void()> allNotesOff)
    : state_(state), view_(view), dialogs_(dialogs), allNotesOff_(std::move(allNotesOff)) {}

void TuningControls::initTuningControls() {
    state_.setScala(nullptr);
    if (scalaShown_) showScala(nullptr);
    for (int i = 0; i < kPitchClassCount; ++i) {
        view_.setSliderRange(i, kSliderMinimum, kSliderMaximum);
    }
    state_.setOffsets(Offsets{});
    ScaleMarks all{};
    all.fill(1);
    state_.setScaleMarks(all);
    state_.tuningChanged.store(0);
    setSliders();
    showOffsets();

    view_.fillList(TuningList::Key, KeyTable);
    selectListRow(TuningList::Key, kDefaultKeyRow);
    state_.savedKeyIndex = kDefaultKeyRow;

    view_.fillList(TuningList::Tuning, labelsOf(TuningTable));
    selectListRow(TuningList::Tuning, kDefaultTuningRow);
    applyTuning();

    view_.fillList(TuningList::Scale, labelsOf(ScaleTable));
    selectListRow(TuningList::Scale, kDefaultScaleRow);
    applyScale();
}

void TuningControls::applyTuning() {
    const int keyRow = view_.selectedRow(TuningList::Key);
    const int tuningRow = view_.selectedRow(TuningList::Tuning);
    const bool followsSong = songTuningOfRow(tuningRow) != SongTuning::None;
    if (isBuiltInRow(TuningTable, tuningRow) || followsSong) leaveScala();
    if (keyRow >= 0) state_.keyIndex = keyRow;
    if (tuningRow >= 0) state_.tuningIndex = tuningRow;
    if (tuningRow >= 0) followSong(tuningRow);
    if (state_.selectTuningRow(tuningRow, keyRow) || followsSong) {
        setSliders();
        showOffsets();
    }
}

void TuningControls::followSong(int tuningRow) {
    const SongTuning kind = songTuningOfRow(tuningRow);
    setSongTuning(state_, kind);
    const auto song = song_ ? song_() : std::span<const std::uint8_t>();
    if (kind != SongTuning::None && !song.empty()) {
        tuneToSong(state_, song);
    } else if (kind == SongTuning::Fitted && state_.offsetValues() != Offsets{}) {
        // Equal temperament until a song loads to fit the offsets to.
        state_.setOffsets({});
        state_.tuningChanged.store(1);
    }
    const bool adaptive = kind == SongTuning::Adaptive;
    if (adaptive == adaptiveShown_) return;
    adaptiveShown_ = adaptive;
    view_.setSlidersEnabled(!adaptive, adaptive ? kAdaptiveSliders : std::string_view());
}

void TuningControls::applyScale() {
    const int keyRow = view_.selectedRow(TuningList::Key);
    const int scaleRow = view_.selectedRow(TuningList::Scale);
    if (isBuiltInRow(ScaleTable, scaleRow)) leaveScala();
    if (keyRow >= 0) state_.keyIndex = keyRow;
    if (scaleRow >= 0) state_.scaleIndex = scaleRow;
    if (state_.selectScaleRow(scaleRow, keyRow)) {
        showScaleKeys();
        // Notes sounding now were moved by the old marks; their Note Offs would miss them.
        sendAllNotesOff();
        view_.requestRepaint();
    }
    applyTuning();
}

void TuningControls::applyKey() {
    const auto scala = state_.scala();
    if (scala && !scala->twelve) {
        const int keyRow = view_.selectedRow(TuningList::Key);
        if (const auto laid = keyRow >= 0 ? scalaOnKey(*scala, keyRow) : std::nullopt) {
            state_.setScala(laid->scala);
            state_.tuningChanged.store(1);
        }
    } else if (scala) {
        // Laid on twelve classes for the key it was loaded in: its reference shift is that key's.
        leaveScala();
    }
    applyScale();
}

void TuningControls::onSliderScroll(ScrollCode code, int thumbPosition, int sliderIndex) {
    if (!isPitchClass(sliderIndex)) return;
    leaveScala();
    const int p = view_.sliderPosition(sliderIndex);
    switch (code) {
        case ScrollCode::LineUp:
            view_.setSliderPosition(sliderIndex, p - kSliderLineStep);
            break;
        case ScrollCode::LineDown:
            view_.setSliderPosition(sliderIndex, p + kSliderLineStep);
            break;
        case ScrollCode::PageUp:
            view_.setSliderPosition(sliderIndex, p - kSliderPageStep);
            break;
        case ScrollCode::PageDown:
            view_.setSliderPosition(sliderIndex, p + kSliderPageStep);
            break;
        case ScrollCode::ThumbPosition:
            view_.setSliderPosition(sliderIndex, thumbPosition);
            break;
        case ScrollCode::EndScroll:
            break;
        case ScrollCode::ThumbTrack:
        case ScrollCode::Top:
        case ScrollCode::Bottom:
        case ScrollCode::Other:
            break;
    }
    // Also when nothing moved: an offset beyond the travel snaps to the slider's end here.
    state_.offsets[static_cast<std::size_t>(sliderIndex)].store(-view_.sliderPosition(sliderIndex));
    // Raised after the offset is stored, so that the player never sends the one before.
    if (code == ScrollCode::EndScroll) state_.tuningChanged.store(1);
    showOffsets();
    selectListRow(TuningList::Tuning, kCustomTuningRow);
}

void TuningControls::togglePitchClass(int pitchClass) {
    if (!isPitchClass(pitchClass)) return;
    selectListRow(TuningList::Scale, kCustomScaleRow);
    sendAllNotesOff();
    ScaleMarks marks = state_.scaleMarks();
    auto& mark = marks[static_cast<std::size_t>(pitchClass)];
    mark = mark == 0 ? 1 : 0;

    // Decided before the state changes, so that the player never sees a scale without notes.
    if (std::ranges::count(marks, std::uint8_t{1}) == 0) {
        dialogs_.showMessage(messages::kLastNoteRefused, BoxStyle::SystemModal);
        view_.setKeyLit(pitchClass, true);
        return;
    }
    leaveScala();
    state_.inScale[static_cast<std::size_t>(pitchClass)].store(mark);
}

void TuningControls::setSliders() {
    for (int i = 0; i < kPitchClassCount; ++i) {
        view_.setSliderPosition(i, -state_.offsets[static_cast<std::size_t>(i)].load());
    }
}

void TuningControls::showOffsets() {
    for (int i = 0; i < kPitchClassCount; ++i) {
        view_.setValueText(i, std::to_string(state_.offsets[static_cast<std::size_t>(i)].load()));
    }
}

void TuningControls::showFittedOffsets() {
    setSliders();
    showOffsets();
}

void TuningControls::showScaleKeys() {
    for (int i = 0; i < kPitchClassCount; ++i) {
        view_.setKeyLit(i, state_.inScale[static_cast<std::size_t>(i)].load() == 1);
    }
}

void TuningControls::showScala(const ScalaInForce* scala, std::string_view name) {
    const auto customLabel = TuningTable[static_cast<std::size_t>(kCustomTuningRow)].label;
    if (scala == nullptr || scala->twelve) {
        if (!scalaShown_) return;
        scalaShown_ = false;
        view_.setRowLabel(TuningList::Tuning, kCustomTuningRow, customLabel);
        view_.setSlidersEnabled(true, {});
        view_.setKeysEnabled(true, {});
        return;
    }
    scalaShown_ = true;
    view_.setRowLabel(TuningList::Tuning, kCustomTuningRow, name.empty() ? customLabel : name);
    view_.setSlidersEnabled(
        false, scala->whyNotTwelve + ": its keys are tuned one by one, not by these sliders.");
    view_.setKeysEnabled(false, scala->whyNotTwelve +
                                    ": every key plays a note of it, so none can be "
                                    "taken out here.");
}

void TuningControls::leaveScala() {
    if (!state_.scala()) return;
    state_.setScala(nullptr);
    // Raised after the scale went, so that the player sends the offsets and not the scale.
    state_.tuningChanged.store(1);
    showScala(nullptr);
}

void TuningControls::selectListRow(TuningList list, int row) {
    view_.selectRow(list, row);
    switch (list) {
        case TuningList::Key:
            state_.keyIndex = row;
            break;
        case TuningList::Scale:
            state_.scaleIndex = row;
            break;
        case TuningList::Tuning:
            state_.tuningIndex = row;
            followSong(row);
            break;
    }
}

void TuningControls::sendAllNotesOff() {
    if (allNotesOff_) allNotesOff_();
}

}  // namespace pitchloom
