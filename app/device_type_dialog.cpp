#include "app/device_type_dialog.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>

#include "app/dialog_units.h"
#include "base/messages.h"

namespace pitchloom {

DeviceTypeDialog::DeviceTypeDialog(std::atomic<DeviceType>& type, UserDialogs& dialogs,
                                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      type_(type),
      dialogs_(dialogs) {
    setWindowTitle(QStringLiteral("Midi Device Setting"));
    setFixedSize(dialogUnits(0, 0, 187, 75).size());

    auto* prompt = new QLabel(QStringLiteral("Select type of midi device!"), this);
    prompt->setAlignment(Qt::AlignCenter);
    prompt->setGeometry(dialogUnits(10, 5, 165, 10));

    auto makeChoice = [this](const QString& text, QRect rect) {
        auto* button = new QPushButton(text, this);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setGeometry(rect);
        return button;
    };
    // The chosen type must stand out: checked buttons are drawn lit.
    setStyleSheet(QStringLiteral(
        "QPushButton:checked { background: rgb(31,63,31); color: rgb(230,240,200);"
        " font-weight: bold; border: 1px solid rgb(20,40,20); border-radius: 3px; }"));
    // Four choices share the width three had: XG, GS, GM, and the MIDI Tuning Standard.
    xg_ = makeChoice(QStringLiteral("XG"), dialogUnits(5, 25, 41, 20));
    gs_ = makeChoice(QStringLiteral("GS"), dialogUnits(50, 25, 41, 20));
    gm_ = makeChoice(QStringLiteral("GM"), dialogUnits(95, 25, 41, 20));
    mts_ = makeChoice(QStringLiteral("MTS"), dialogUnits(140, 25, 41, 20));
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    group->addButton(xg_);
    group->addButton(gs_);
    group->addButton(gm_);
    group->addButton(mts_);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setGeometry(dialogUnits(65, 55, 50, 14));
    connect(ok_, &QPushButton::clicked, this, &DeviceTypeDialog::accept);

    switch (type_.load()) {
        case DeviceType::XG:
            xg_->setChecked(true);
            break;
        case DeviceType::GS:
            gs_->setChecked(true);
            break;
        case DeviceType::GM:
            gm_->setChecked(true);
            break;
        case DeviceType::MTS:
            mts_->setChecked(true);
            break;
    }
    xg_->setFocus();  // the first control, as a dialog places the focus by itself
}

void DeviceTypeDialog::accept() {
    if (xg_->isChecked()) {
        type_ = DeviceType::XG;
    } else if (gs_->isChecked()) {
        type_ = DeviceType::GS;
    } else if (gm_->isChecked()) {
        type_ = DeviceType::GM;
        dialogs_.showMessage(messages::kGmIgnoresTuning, BoxStyle::SystemModal);
    } else if (mts_->isChecked()) {
        type_ = DeviceType::MTS;
    }
    QDialog::accept();
}

}  // namespace pitchloom
