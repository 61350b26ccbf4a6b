#include "app/device_type_dialog.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <utility>

#include "app/dialog_units.h"

namespace pitchloom {

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A list that asks for its entries each time it opens.
class RefilledList : public QComboBox {
public:
    RefilledList(std::function<void()> refill, QWidget* parent)
        : QComboBox(parent), refill_(std::move(refill)) {}

    void showPopup() override {
        refill_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> refill_;
};

}  // namespace

DeviceTypeDialog::DeviceTypeDialog(std::atomic<DeviceType>& type, const TuningState& tuning,
                                   UserDialogs& dialogs, InputRelay* inputs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      type_(type),
      tuning_(tuning),
      dialogs_(dialogs),
      inputs_(inputs) {
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
    const int inputRoom = inputs_ ? 18 : 0;  // the input's row between the types and OK
    setFixedSize(dialogUnits(0, 0, width, 75 + inputRoom).size());

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

    if (inputs_) {
        const QString why = QStringLiteral(
            "A keyboard, or a MIDI program connected to \"Pitchloom Pro in\", played through the "
            "tuning, the scale and the type to the Device, also while a song plays");
        auto* label = new QLabel(QStringLiteral("MIDI input (keyboard):"), this);
        label->setToolTip(why);
        const QRect row = dialogUnits(kLeft, 52, width - kLeft - kRight, 12);
        const int labelWidth = label->sizeHint().width();
        label->setGeometry(row.x(), row.y(), labelWidth, row.height());
        inputList_ = new RefilledList([this] { fillInputs(); }, this);
        inputList_->setToolTip(why);
        constexpr int kSpace = 6;
        inputList_->setGeometry(row.x() + labelWidth + kSpace, row.y() - 1,
                                row.width() - labelWidth - kSpace, 20);
        label->setBuddy(inputList_);
        fillInputs();
        connect(inputList_, &QComboBox::activated, this, &DeviceTypeDialog::chooseInput);
    }

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    ok_->setGeometry(dialogUnits((width - 50) / 2, 55 + inputRoom, 50, 14));
    connect(ok_, &QPushButton::clicked, this, &DeviceTypeDialog::accept);

    choices_.front()->setFocus();  // the first control, as a dialog places the focus by itself
}

void DeviceTypeDialog::fillInputs() {
    inputList_->clear();
    const QFontMetrics metrics(inputList_->view()->font());
    int widest = inputList_->width();
    for (const InputRelay::Entry& entry : inputs_->inputList()) {
        const QString name = qs(entry.name);
        inputList_->addItem(name, entry.identifier);
        widest = std::max(widest, metrics.horizontalAdvance(name) + 24);  // frame, scroll bar
    }
    // The names of the system's ports are long ("USB Keystation 61es:... 20:0"): the popup
    // shows them whole.
    inputList_->view()->setMinimumWidth(widest);
    showCurrentInput();
}

int DeviceTypeDialog::rowOfCurrentInput() const {
    const int current = inputs_->currentInput();
    if (current == kNoInputId) return std::max(0, inputList_->findData(kNoInputId));
    // A port keeps its name when others come or go before it, not its number.
    const QString name = qs(inputs_->currentName());
    int named = -1;
    for (int row = 0; row < inputList_->count(); ++row) {
        if (inputList_->itemText(row) != name) continue;
        if (inputList_->itemData(row).toInt() == current) return row;
        if (named < 0) named = row;
    }
    return std::max(0, named);
}

void DeviceTypeDialog::showCurrentInput() {
    if (inputList_) inputList_->setCurrentIndex(rowOfCurrentInput());
}

void DeviceTypeDialog::chooseInput(int row) {
    const QVariant identifier = inputList_->itemData(row);
    if (!identifier.isValid()) return;
    // Reopening the input in use would end the notes held on it.
    if (inputs_->currentInput() != kNoInputId && row == rowOfCurrentInput()) return;
    // A failure has been told in a box, and then no input is in use.
    if (!inputs_->selectInput(identifier.toInt())) showCurrentInput();
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
