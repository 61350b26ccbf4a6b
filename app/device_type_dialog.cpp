#include "app/device_type_dialog.h"

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/dialog_units.h"

namespace pitchloom {

DeviceTypeDialog::DeviceTypeDialog(std::atomic<DeviceType>& type, const TuningState& tuning,
                                   UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      type_(type),
      tuning_(tuning),
      dialogs_(dialogs) {
    setWindowTitle(QStringLiteral("Midi Device Setting"));

    // The choices share a row, 4 units apart, each wide enough for the longest name drawn bold
    // as a chosen one is, and at least 32 units; the dialog grows with them.
    constexpr int kLeft = 5;
    constexpr int kRight = 6;
    constexpr int kGap = 4;
    constexpr int kNarrowest = 32;
    constexpr int kPadding = 12;  // pixels beside a name, for the button's frame
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    int widestName = 0;
    for (const Dialect& d : dialects()) {
        widestName = std::max(
            widestName, metrics.horizontalAdvance(QString::fromUtf8(d.name.data(), d.name.size())));
    }
    const auto count = static_cast<int>(dialects().size());
    const int each = std::max(kNarrowest, ((widestName + kPadding) * 4 + 6) / 7);  // to units
    const int width = std::max(187, kLeft + count * each + (count - 1) * kGap + kRight);
    setFixedSize(dialogUnits(0, 0, width, 75).size());

    auto* prompt = new QLabel(QStringLiteral("Select type of midi device!"), this);
    prompt->setAlignment(Qt::AlignCenter);
    prompt->setGeometry(dialogUnits(10, 5, width - 22, 10));

    // The chosen type must stand out: checked buttons are drawn lit.
    setStyleSheet(QStringLiteral(
        "QPushButton:checked { background: rgb(31,63,31); color: rgb(230,240,200);"
        " font-weight: bold; border: 1px solid rgb(20,40,20); border-radius: 3px; }"));
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (const Dialect& d : dialects()) {
        auto* button = new QPushButton(QString::fromUtf8(d.name.data(), d.name.size()), this);
        button->setCheckable(true);
        button->setAutoDefault(false);
        const int column = static_cast<int>(d.type.row());
        button->setGeometry(dialogUnits(kLeft + column * (each + kGap), 25, each, 20));
        button->setChecked(d.type == type_.load());
        group->addButton(button);
        choices_.push_back(button);
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setGeometry(dialogUnits((width - 50) / 2, 55, 50, 14));
    connect(ok_, &QPushButton::clicked, this, &DeviceTypeDialog::accept);

    choices_.front()->setFocus();  // the first control, as a dialog places the focus by itself
}

void DeviceTypeDialog::accept() {
    for (const Dialect& d : dialects()) {
        if (!buttonOf(d.type)->isChecked()) continue;
        type_ = d.type;
        if (!d.chosenNotice.empty()) dialogs_.showMessage(d.chosenNotice, BoxStyle::SystemModal);
        // Told now rather than only when Play or Convert is refused.
        if (const auto why = whyCannotPlay(d.type, tuning_)) {
            dialogs_.showMessage(*why, BoxStyle::SystemModal);
        }
        break;
    }
    QDialog::accept();
}

}  // namespace pitchloom
