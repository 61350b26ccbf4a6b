#pragma once

#include <QDialog>
#include <atomic>
#include <vector>

#include "base/user_dialogs.h"
#include "tuning/dialect.h"

class QPushButton;

namespace pitchloom {

/// "Midi Device Setting": one button for each dialect of the table, in its order. OK takes the
/// selected button, with a notice where the dialect has one or cannot play the tuning in force;
/// Escape keeps the value in force.
class DeviceTypeDialog : public QDialog {
    Q_OBJECT
public:
    DeviceTypeDialog(std::atomic<DeviceType>& type, const TuningState& tuning, UserDialogs& dialogs,
                     QWidget* parent = nullptr);

    QPushButton* buttonOf(DeviceType type) const { return choices_[type.row()]; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

private:
    std::atomic<DeviceType>& type_;
    const TuningState& tuning_;
    UserDialogs& dialogs_;
    std::vector<QPushButton*> choices_;  // by row of the dialect table
    QPushButton* ok_;
};

}  // namespace pitchloom
