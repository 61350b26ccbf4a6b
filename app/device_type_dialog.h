#pragma once

#include <QDialog>
#include <atomic>

#include "base/user_dialogs.h"
#include "midifile/sysex.h"

class QPushButton;

namespace pitchloom {

/// "Midi Device Setting": chooses XG, GS, GM or MTS. OK takes the selected button; Escape keeps the
/// value in force.
class DeviceTypeDialog : public QDialog {
    Q_OBJECT
public:
    DeviceTypeDialog(std::atomic<DeviceType>& type, UserDialogs& dialogs,
                     QWidget* parent = nullptr);

    QPushButton* xgButton() const { return xg_; }
    QPushButton* gsButton() const { return gs_; }
    QPushButton* gmButton() const { return gm_; }
    QPushButton* mtsButton() const { return mts_; }
    QPushButton* okButton() const { return ok_; }

    void accept() override;

private:
    std::atomic<DeviceType>& type_;
    UserDialogs& dialogs_;
    QPushButton* xg_;
    QPushButton* gs_;
    QPushButton* gm_;
    QPushButton* mts_;
    QPushButton* ok_;
};

}  // namespace pitchloom
