#pragma once

#include <QDialog>
#include <atomic>
#include <vector>

#include "base/user_dialogs.h"
#include "tuning/dialect.h"

class QPushButton;

namespace pitchloom {

/// "Midi Device Setting": one button for each dialect of the table, in its order. OK takes the
/// selected button; Escape keeps the value in force.
class DeviceTypeDialog : public QDialog {
    Q_OBJECT
public:
    DeviceTypeDialog(std::atomic<DeviceType>& type, UserDialogs& dialogs,
                     QWidget* parent = nullptr);

    QPushButton* buttonOf(DeviceType type) const { return choices_[type.row()]; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

private:
    std::atomic<DeviceType>& type_;
    UserDialogs& dialogs_;
    std::vector<QPushButton*> choices_;  // by row of the dialect table
    QPushButton* ok_;
};

}  // namespace pitchloom
