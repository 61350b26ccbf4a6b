#pragma once

#include <QDialog>
#include <QPointer>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/window_playback.h"
#include "session/session.h"
#include "tuning/tuning_controls.h"
#include "ui/skin_sets.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QScrollBar;

namespace pitchloom {

class DeviceTypeDialog;
class HelpWindow;

/// The main window: the skinned panel with its seven buttons and twelve piano keys, the four
/// lists, twelve sliders and value boxes. It owns the session, and playback through it.
class MainDialog : public QDialog, private TuningView {
    Q_OBJECT
public:
    /// What the window works with; the program passes the real ones, tests fakes.
    struct Services {
        UserDialogs& dialogs;
        MidiOutputProvider& output;
        /// The MIDI inputs offered in the device type dialog, played through the tuning.
        MidiInputProvider& input;
        TimerService& timers;
        /// Runs the device type dialog modally (tests answer it instead).
        std::function<void(DeviceTypeDialog&)> runDeviceTypeDialog;
        /// Called before the window's state goes away, to release threads waiting on boxes.
        std::function<void()> releaseWaits;
        std::chrono::milliseconds stopWait{1000};
        /// The SoundFonts an audio file is rendered with, the first that loads; the system's
        /// General MIDI ones when not given.
        std::optional<std::vector<std::string>> soundFonts;
    };

    explicit MainDialog(Services services, QWidget* parent = nullptr);
    ~MainDialog() override;

    /// The command of skin button 0..6 (Power, Help, Type, Save, Load, Play/Stop, Convert).
    void onSkinButton(int index);
    /// The command of piano key 0..11.
    void onSkinKey(int index);
    /// A file handed over by a drop or by the command line: a .mid file is loaded and played.
    void openDroppedFile(const QString& path);
    /// The drop handling: only the first of the dropped files counts.
    void dropFiles(const QList<QUrl>& urls);
    /// A file named on the command line: handled as a drop once the window is on the screen and
    /// no start-up box waits for an answer.
    void openWhenShown(const QString& path);

    Sequencer& sequencer() { return playback_.player().sequencer; }
    Session& session() { return session_; }
    TuningState& tuning() { return session_.tuning; }
    MidiPort& port() { return playback_.player().port; }
    InputRelay& inputRelay() { return playback_.inputRelay(); }
    MidiSong& song() { return session_.song; }
    std::atomic<DeviceType>& deviceType() { return session_.deviceType; }
    SkinButtonSet& buttons() { return buttons_; }
    SkinKeySet& keys() { return keys_; }
    SkinWindow* skinWindow(int id) const;
    QComboBox* deviceList() const { return deviceList_; }
    QComboBox* keyList() const { return keyList_; }
    QComboBox* scaleList() const { return scaleList_; }
    QComboBox* tuningList() const { return tuningList_; }
    QScrollBar* slider(int i) const { return sliders_[static_cast<std::size_t>(i)]; }
    QLineEdit* valueBox(int i) const { return valueBoxes_[static_cast<std::size_t>(i)]; }
    HelpWindow* helpWindow() const { return help_; }
    /// Every standard control, in the order they are laid over the skins.
    QList<QWidget*> standardControls() const;

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void OnInitDialog();
    void connectControls();
    void createSkins();
    void fillDeviceList();
    void paintSkins();
    void OnDestroy();
    void showHelp();
    void runTypeCommand();
    void askDeviceType(QWidget* parent);
    void runConvert();
    void onSliderAction(int slider, int action);
    void onSliderReleased(int slider);
    void endSliderScroll(int slider);
    int sliderIndexOf(QObject* object) const;
    bool isList(QObject* object) const;
    void onDeviceSelected(int row);
    void openPendingFile();

    // TuningView
    void requestRepaint() override;
    int selectedRow(TuningList list) const override;
    void selectRow(TuningList list, int row) override;
    void fillList(TuningList list, std::span<const std::string_view> labels) override;
    void setSliderRange(int slider, int minimum, int maximum) override;
    int sliderPosition(int slider) const override;
    void setSliderPosition(int slider, int position) override;
    void setValueText(int box, std::string_view text) override;
    void setKeyLit(int key, bool lit) override;
    void setRowLabel(TuningList list, int row, std::string_view label) override;
    void setSlidersEnabled(bool enabled, std::string_view why) override;
    void setKeysEnabled(bool enabled, std::string_view why) override;
    QComboBox* listOf(TuningList list) const;

    Services services_;
    Session session_;
    SkinButtonSet buttons_;
    WindowPlayback playback_;
    TuningControls controls_;

    QLabel* logo_ = nullptr;
    std::array<QLabel*, 8> labels_{};
    QComboBox* deviceList_ = nullptr;
    QComboBox* keyList_ = nullptr;
    QComboBox* scaleList_ = nullptr;
    QComboBox* tuningList_ = nullptr;
    std::array<QLineEdit*, 12> valueBoxes_{};
    std::array<QScrollBar*, 12> sliders_{};
    std::array<SkinWindow*, 20> skins_{};  // ids 1073..1092
    SkinPictureSet pictures_;
    SkinKeySet keys_;
    HelpWindow* help_ = nullptr;
    QPointer<DeviceTypeDialog> typeDialog_;  // while it is open, to show an input that went
    QObject* wheelList_ = nullptr;  // the list the user clicked or tabbed into, while it has focus
    QString pendingFile_;           // named on the command line, waiting for the window to show
    bool destroyed_ = false;
    std::array<bool, 12> scrollInAction_{};  // a step reported, its end still to come
};

}  // namespace pitchloom
