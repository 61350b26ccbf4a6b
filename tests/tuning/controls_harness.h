#pragma once

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/scripted_dialogs.h"
#include "tuning/tuning_controls.h"

namespace pitchloom::test {

/// A TuningView that behaves like the window's widgets (sliders keep to their range, lists start
/// unselected) and logs every call that changes what the user sees, in order.
class RecordingTuningView : public TuningView {
public:
    RecordingTuningView() {
        minimum_.fill(0);
        maximum_.fill(99);  // a fresh scroll bar's range, so a missing setSliderRange shows
        position_.fill(0);
        lit_.fill(false);
    }

    int selectedRow(TuningList list) const override { return selected_[index(list)]; }
    void selectRow(TuningList list, int row) override {
        selected_[index(list)] = row;
        log.push_back("select " + std::string(name(list)) + " " + std::to_string(row));
    }
    void fillList(TuningList list, std::span<const std::string_view> labels) override {
        labels_[index(list)].assign(labels.begin(), labels.end());
        relabelled_[index(list)].clear();
        selected_[index(list)] = -1;
    }

    void setSliderRange(int slider, int minimum, int maximum) override {
        minimum_.at(static_cast<std::size_t>(slider)) = minimum;
        maximum_.at(static_cast<std::size_t>(slider)) = maximum;
    }
    int sliderPosition(int slider) const override {
        return position_.at(static_cast<std::size_t>(slider));
    }
    void setSliderPosition(int slider, int position) override {
        const auto s = static_cast<std::size_t>(slider);
        position_.at(s) = std::clamp(position, minimum_.at(s), maximum_.at(s));
        log.push_back("slider " + std::to_string(slider));
    }

    void setValueText(int box, std::string_view text) override {
        text_.at(static_cast<std::size_t>(box)) = std::string(text);
        log.push_back("text " + std::to_string(box));
    }
    void setKeyLit(int key, bool lit) override {
        lit_.at(static_cast<std::size_t>(key)) = lit;
        log.push_back("key " + std::to_string(key));
    }
    void setRowLabel(TuningList list, int row, std::string_view label) override {
        relabelled_[index(list)][row] = std::string(label);
        log.push_back("label " + std::string(name(list)) + " " + std::to_string(row));
    }
    void setSlidersEnabled(bool enabled, std::string_view why) override {
        slidersEnabled_ = enabled;
        sliderWhy_ = std::string(why);
        log.push_back(enabled ? "sliders on" : "sliders off");
    }
    void setKeysEnabled(bool enabled, std::string_view why) override {
        keysEnabled_ = enabled;
        keyWhy_ = std::string(why);
        log.push_back(enabled ? "keys on" : "keys off");
    }
    void requestRepaint() override {
        ++repaints;
        log.push_back("repaint");
    }

    /// What the user does: picks a row in a list, which then runs its handler.
    void userSelects(TuningList list, int row) { selected_[index(list)] = row; }
    /// What the key set does on a press before it reports the key: toggle its look.
    void toggleKeyLook(int key) {
        auto& look = lit_.at(static_cast<std::size_t>(key));
        look = !look;
    }

    const std::vector<std::string_view>& labels(TuningList list) const {
        return labels_[index(list)];
    }
    /// What a row shows: the label it was filled with, unless one was set in its place.
    std::string shownLabel(TuningList list, int row) const {
        const auto& relabelled = relabelled_[index(list)];
        if (const auto it = relabelled.find(row); it != relabelled.end()) return it->second;
        return std::string(labels_[index(list)].at(static_cast<std::size_t>(row)));
    }
    bool slidersEnabled() const { return slidersEnabled_; }
    bool keysEnabled() const { return keysEnabled_; }
    /// What the greyed sliders and keys say beside them.
    const std::string& sliderWhy() const { return sliderWhy_; }
    const std::string& keyWhy() const { return keyWhy_; }
    int minimum(int slider) const { return minimum_.at(static_cast<std::size_t>(slider)); }
    int maximum(int slider) const { return maximum_.at(static_cast<std::size_t>(slider)); }
    const std::string& text(int box) const { return text_.at(static_cast<std::size_t>(box)); }
    bool lit(int key) const { return lit_.at(static_cast<std::size_t>(key)); }
    std::array<std::string, 12> texts() const { return text_; }
    std::array<bool, 12> litKeys() const { return lit_; }
    std::array<int, 12> positions() const { return position_; }

    /// How many logged calls start with the prefix.
    int count(std::string_view prefix) const {
        return static_cast<int>(std::count_if(
            log.begin(), log.end(), [&](const std::string& e) { return e.starts_with(prefix); }));
    }

    std::vector<std::string> log;
    int repaints = 0;

private:
    static std::size_t index(TuningList list) { return static_cast<std::size_t>(list); }
    static std::string_view name(TuningList list) {
        switch (list) {
            case TuningList::Key:
                return "Key";
            case TuningList::Scale:
                return "Scale";
            case TuningList::Tuning:
                return "Tuning";
        }
        return "";
    }

    std::array<int, 3> selected_{-1, -1, -1};
    std::array<std::vector<std::string_view>, 3> labels_;
    std::array<std::map<int, std::string>, 3> relabelled_;
    bool slidersEnabled_ = true;
    bool keysEnabled_ = true;
    std::string sliderWhy_;
    std::string keyWhy_;
    std::array<int, 12> minimum_{};
    std::array<int, 12> maximum_{};
    std::array<int, 12> position_{};
    std::array<std::string, 12> text_;
    std::array<bool, 12> lit_{};
};

/// The tuning controls over a fresh state, a recording view, scripted dialogs and a counted
/// All Notes Off, with the user's gestures as the window would report them.
struct ControlsHarness {
    TuningState state;
    RecordingTuningView view;
    ScriptedDialogs dialogs;
    int notesOff = 0;
    TuningControls controls{state, view, dialogs, [this] {
                                ++notesOff;
                                view.log.push_back("notes off");
                            }};

    /// A row picked in a list by the user, which runs that list's handler.
    void choose(TuningList list, int row) {
        view.userSelects(list, row);
        switch (list) {
            case TuningList::Tuning:
                controls.applyTuning();
                break;
            case TuningList::Scale:
                controls.applyScale();
                break;
            case TuningList::Key:
                controls.applyKey();
                break;
        }
    }
    /// A piano key pressed: the key set toggles its look, then reports the key.
    void pressKey(int key) {
        view.toggleKeyLook(key);
        controls.togglePitchClass(key);
    }
    /// One scroll action on a slider, followed by its end-scroll.
    void scrollAction(int slider, ScrollCode code, int thumbPosition = 0) {
        controls.onSliderScroll(code, thumbPosition, slider);
        controls.onSliderScroll(ScrollCode::EndScroll, 0, slider);
    }
};

}  // namespace pitchloom::test
