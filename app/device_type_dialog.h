#pragma once

#include <QDialog>
#include <atomic>
#include <vector>

#include "base/user_dialogs.h"
#include "playback/playing/input_relay.h"
#include "tuning/dialect.h"

class QComboBox;
class QPushButton;

namespace pitchloom {

/// "Midi Device Setting": one button for each dialect of the table, in its order. OK takes the
/// selected button, with a notice where the dialect has one or cannot play the tuning in force;
/// Escape keeps the value in force. Given the input relay, it offers below the types the MIDI
/// input played through the tuning, which is taken as soon as it is chosen.
class DeviceTypeDialog : public QDialog {
    Q_OBJECT
public:
    DeviceTypeDialog(std::atomic<DeviceType>& type, const TuningState& tuning, UserDialogs& dialogs,
                     InputRelay* inputs = nullptr, QWidget* parent = nullptr);

    QPushButton* buttonOf(DeviceType type) const { return choices_[type.row()]; }
    QPushButton* okButton() const { return ok_; }
    /// The MIDI input list; none without the relay.
    QComboBox* inputList() const { return inputList_; }
    /// Selects the entry of the input in use ("None" when none is).
    void showCurrentInput();

    void accept() override;

private:
    /// The relay's inputs anew, the one in use selected: a keyboard plugged in since shows.
    void fillInputs();
    void chooseInput(int row);
    int rowOfCurrentInput() const;

    std::atomic<DeviceType>& type_;
    const TuningState& tuning_;
    UserDialogs& dialogs_;
    InputRelay* inputs_;
    std::vector<QPushButton*> choices_;  // by row of the dialect table
    QComboBox* inputList_ = nullptr;
    QPushButton* ok_;
};

}  // namespace pitchloom
