#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playback/playing/input_relay.h"
#include "session/session.h"
#include "ui/skin_sets.h"

class QComboBox;
class QWidget;

namespace pitchloom {

/// The window's side of playback: the session's player, the Play button's caption while a song
/// plays and when it ends, the Device list, the MIDI input played through the tuning, songs
/// dropped on the window and audio files rendered with a progress dialog.
class WindowPlayback : private PlaybackView {
public:
    struct Services {
        UserDialogs& dialogs;
        MidiOutputProvider& output;
        MidiInputProvider& input;
        TimerService& timers;
        std::chrono::milliseconds stopWait;
        /// The SoundFonts an audio file is rendered with; the system's when not given.
        std::optional<std::vector<std::string>> soundFonts;
    };

    /// `buttons` hold the Play button; `repaint` shows the window's skins anew.
    WindowPlayback(QWidget& window, Session& session, Services services, SkinButtonSet& buttons,
                   std::function<void()> repaint);
    /// The player goes with the view it reports to, the input that plays through it first.
    ~WindowPlayback() override;

    Player& player() { return player_; }
    /// The MIDI input played through the sequencer; "None" until one is chosen.
    InputRelay& inputRelay() { return *inputRelay_; }
    /// `shown` runs on the window thread each time the input in use has gone from the system,
    /// before the box that says so.
    void onInputGone(std::function<void()> shown);
    bool isPlaying() const { return player_.sequencer.isPlaying(); }

    /// Makes the song buffer and opens the built-in synthesizer, before the window shows.
    void startOutput();
    /// Stops a playing song at once, without the stop wait, when the window goes away.
    void stopNow();
    /// Closes the MIDI input, so that nothing more plays: before the output closes.
    void closeInput();
    /// Frees the song buffer and closes the output: the last step of the window.
    void closeOutput();
    /// Stops a playing song (its stop wait included).
    void stopIfPlaying();

    /// "MIDI MAPPER", then the system's ports; the mapper chosen.
    void fillDeviceList(QComboBox& list);
    /// The entry the user chose in the Device list.
    void selectDevice(const QComboBox& list, int row);
    /// The Play/Stop button: a playing song stops; otherwise a song chosen in the open dialog
    /// plays, unless the device type cannot play the tuning in force (a box says why).
    void togglePlay();
    /// A song dropped on the window: a playing one stops, the new one is loaded and plays; the
    /// same refusal first as togglePlay.
    void playFile(const std::string& path);
    /// Renders the song into an audio file with a progress dialog that can cancel it (the Convert
    /// command has made sure the device type can play the tuning).
    bool renderAudio(const std::string& path);

private:
    /// True, after a box that says why, when the device type cannot play the tuning in force.
    bool refusesTuning();
    void setPlayCaption(std::string_view caption) override;
    void requestRepaint() override;
    void setWaitCursor(bool waiting) override;
    /// Runs work on the window's thread: at once there, queued from the timer thread.
    void onWindowThread(std::function<void()> work);

    QWidget& window_;
    Session& session_;
    Services services_;
    SkinButtonSet& buttons_;
    std::function<void()> repaint_;
    Player& player_;
    std::unique_ptr<InputRelay> inputRelay_;  // refers to the player's sequencer
    bool waitCursor_ = false;                 // window thread
};

}  // namespace pitchloom
