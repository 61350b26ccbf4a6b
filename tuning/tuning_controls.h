#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>

#include "base/user_dialogs.h"
#include "tuning/tuning_state.h"

namespace pitchloom {

inline constexpr int kSliderMinimum = -50;
inline constexpr int kSliderMaximum = 50;
inline constexpr int kSliderLineStep = 1;
inline constexpr int kSliderPageStep = 10;

/// The three drop-down lists of the main window.
enum class TuningList { Key, Scale, Tuning };

/// What a slider's scroll notification reports.
enum class ScrollCode {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbPosition,  // thumb released at the carried position
    ThumbTrack,     // thumb being dragged
    Top,
    Bottom,
    EndScroll,  // the end of every scroll action
    Other,
};

/// The lists, sliders, value boxes and piano keys as the tuning controls see them. The main
/// window implements it with its widgets; tests implement it with a recorder.
class TuningView {
public:
    virtual ~TuningView() = default;

    /// The selected row of a list, or -1 when nothing is selected.
    virtual int selectedRow(TuningList list) const = 0;
    /// Selects a row from the program; this never runs the list's selection handler.
    virtual void selectRow(TuningList list, int row) = 0;
    /// Replaces the rows of a list with these labels, in order, leaving nothing selected.
    virtual void fillList(TuningList list, std::span<const std::string_view> labels) = 0;

    /// Sets the travel of slider 0..11.
    virtual void setSliderRange(int slider, int minimum, int maximum) = 0;
    /// The position of slider 0..11.
    virtual int sliderPosition(int slider) const = 0;
    /// Moves slider 0..11 and redraws it; a position outside its range leaves it at the nearer
    /// end.
    virtual void setSliderPosition(int slider, int position) = 0;

    /// Writes the text of value box 0..11.
    virtual void setValueText(int box, std::string_view text) = 0;
    /// Shows piano key 0..11 lit or unlit.
    virtual void setKeyLit(int key, bool lit) = 0;
    /// Shows `label` for row `row` of a list in place of the label it was filled with.
    virtual void setRowLabel(TuningList list, int row, std::string_view label) = 0;
    /// Lets the user move the twelve sliders, or greys them with `why` beside each (empty when
    /// enabled); the value boxes go with them.
    virtual void setSlidersEnabled(bool enabled, std::string_view why) = 0;
    /// Lets the user press the twelve piano keys, or greys them with `why` beside each.
    virtual void setKeysEnabled(bool enabled, std::string_view why) = 0;
    /// Asks the main window to repaint itself.
    virtual void requestRepaint() = 0;
};

/// The Key, Scale and Tuning lists, the twelve sliders with their value boxes and the twelve
/// piano keys, kept in step with the TuningState; also the scale file's Save and Load. A Scala
/// scale that does not fit twelve keys shows by its name in the Tuning list, with the sliders and
/// keys greyed; choosing a built-in row, moving a slider or pressing a key returns to twelve
/// offsets. Every function runs on the window thread.
class TuningControls {
public:
    /// allNotesOff sends All Notes Off on all sixteen channels of the open port.
    TuningControls(TuningState& state, TuningView& view, UserDialogs& dialogs,
                   std::function<void()> allNotesOff);

    /// Start-up: sliders at 0 with all keys lit, then key "C", "Just Intonation", "Chromatic".
    void initTuningControls();

    /// Tuning list handler: a built-in row replaces the offsets and shows them. "Fitted to song"
    /// fits them to the song last loaded, if there is one, and again to each song that loads;
    /// "Adaptive just" greys the sliders, each note getting its own pitch as it plays.
    void applyTuning();
    /// The song that a tuning which follows the song is worked out for when chosen: the last one
    /// loaded, as it loaded (empty before any).
    void setSongSource(std::function<std::span<const std::uint8_t>()> song) {
        song_ = std::move(song);
    }
    /// Scale list handler: a built-in row replaces the marks, silences the port and shows them;
    /// then the tuning is applied again.
    void applyScale();
    /// Key list handler: a Scala scale of other than twelve notes is laid again on the new key
    /// where it follows the key; otherwise as applyScale.
    void applyKey();

    /// Slider scroll handler for slider 0..11. It moves the slider itself, so the window neither
    /// applies the step nor lets the position follow a drag. The window reports each user action
    /// as one code followed by EndScroll: a line or page step (arrow buttons, keys, wheel) as
    /// LineUp/LineDown/PageUp/PageDown, a drag as ThumbTrack while it moves and ThumbPosition
    /// with the released position. Only EndScroll marks the tuning for sending.
    void onSliderScroll(ScrollCode code, int thumbPosition, int sliderIndex);

    /// Piano key handler: the key set has already toggled the key's look; toggles pitch class
    /// 0..11 in the scale, refusing to take out the last one.
    void togglePitchClass(int pitchClass);

    /// Moves each slider to the negative of its offset.
    void setSliders();
    /// Writes every offset into its value box.
    void showOffsets();
    /// Shows the offsets a load fitted to its song: sliders and value boxes.
    void showFittedOffsets();
    /// Lights exactly the piano keys of the pitch classes in the scale.
    void showScaleKeys();
    /// Shows a Scala scale that does not fit twelve keys by `name` with the sliders and keys
    /// greyed, or, for any other tuning, the custom row's own label and live sliders and keys.
    void showScala(const ScalaInForce* scala, std::string_view name = {});

    /// Save command: asks for a file and writes the offsets, marks and Key list row to it.
    void saveScaleFile();
    /// Load command: asks for a file and makes it the custom tuning and scale.
    void loadScaleFile();

private:
    /// A selection set by the program, recorded in the state as the list's row.
    void selectListRow(TuningList list, int row);
    void sendAllNotesOff();
    /// Takes the Scala scale out of force, if one is: the offsets and marks are the tuning again.
    void leaveScala();
    /// Puts the tuning that follows the song of a Tuning list row in force, or none, and shows
    /// the sliders as it leaves them.
    void followSong(int tuningRow);

    TuningState& state_;
    TuningView& view_;
    UserDialogs& dialogs_;
    std::function<void()> allNotesOff_;
    bool scalaShown_ = false;     // the view shows a scale that does not fit twelve keys
    bool adaptiveShown_ = false;  // the sliders are greyed for adaptive just intonation
    std::function<std::span<const std::uint8_t>()> song_;
};

}  // namespace pitchloom
