#include "app/main_dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <utility>

#include "app/device_type_dialog.h"
#include "app/dialog_units.h"
#include "app/help_window.h"
#include "base/messages.h"

namespace pitchloom {

namespace {

constexpr int kClientWidth = 691;
constexpr std::chrono::milliseconds kStartRetry{50};
constexpr int kClientHeight = 430;
constexpr std::array<int, 12> kValueBoxX = {120, 140, 160, 180, 200, 240,
                                            260, 280, 300, 320, 340, 360};
constexpr std::array<int, 12> kSliderX = {125, 145, 165, 185, 205, 245,
                                          265, 285, 305, 325, 345, 365};

struct ButtonLayout {
    int id;
    QRect rect;
    int normalId;
    int pressedId;
    const char* caption;
};

// Power, Help, Type, Save, Load, Play/Stop, Convert: rectangles in client pixels.
const std::array<ButtonLayout, 7> kButtons = {{
    {1074, QRect(QPoint(18, 365), QPoint(77, 424)), 132, 133, ""},
    {1075, QRect(QPoint(82, 377), QPoint(196, 408)), 136, 135, "      Help"},
    {1076, QRect(QPoint(82, 334), QPoint(196, 365)), 136, 135, "     Type"},
    {1077, QRect(QPoint(82, 300), QPoint(196, 331)), 136, 135, "     Save"},
    {1078, QRect(QPoint(82, 270), QPoint(196, 301)), 136, 135, "     Load"},
    {1079, QRect(QPoint(470, 25), QPoint(584, 56)), 136, 135, "     Play"},
    {1080, QRect(QPoint(470, 60), QPoint(584, 91)), 136, 135, "     Convert"},
}};

struct KeyLayout {
    int left;
    int top;
    bool black;
    const char* caption;
};

const std::array<KeyLayout, 12> kKeys = {{
    {210, 188, false, "  C"},
    {245, 104, true, "  C#"},
    {280, 188, false, "  D"},
    {315, 104, true, "  D#"},
    {350, 188, false, "  E"},
    {420, 188, false, "  F"},
    {455, 104, true, "  F#"},
    {490, 188, false, "  G"},
    {525, 104, true, "  G#"},
    {560, 188, false, "  A"},
    {595, 104, true, "  A#"},
    {630, 188, false, "  B"},
}};

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QColor kGreyedArrow(125, 125, 125);

// The popup of a list is at least this wide, so that "Okinawan scale" shows whole.
constexpr int kListPopupWidth = 170;

// Room beside a label in a list's popup, for the frame and the scroll bar's edge.
constexpr int kPopupMargin = 24;

// How wide a label a closed list shows.
int labelWidth(const QComboBox& box) {
    QStyleOptionComboBox option;
    option.initFrom(&box);
    return box.style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &box)
        .width();
}

// A label cut to a width, a closing part in brackets kept whole where the rest still shows a
// little: "19 equal div... (19 notes)" keeps the note count of a Scala scale in sight.
QString fittedLabel(const QString& label, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(label) <= width) return label;
    const qsizetype open = label.lastIndexOf(QStringLiteral(" ("));
    if (label.endsWith(QLatin1Char(')')) && open > 0) {
        const QString tail = label.mid(open);
        const int room = width - metrics.horizontalAdvance(tail);
        if (room >= 3 * metrics.horizontalAdvance(QStringLiteral("W"))) {
            return metrics.elidedText(label.left(open), Qt::ElideRight, room) + tail;
        }
    }
    return metrics.elidedText(label, Qt::ElideRight, width);
}

// A drop-down list whose chosen label, where it is longer than the box, is cut to fit.
class ListBox : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        painter.setPen(palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        option.currentText = fittedLabel(option.currentText, fontMetrics(), labelWidth(*this));
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

}  // namespace

MainDialog::MainDialog(Services services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      services_(std::move(services)),
      session_(services_.dialogs),
      playback_(*this, session_,
                {services_.dialogs, services_.output, services_.input, services_.timers,
                 services_.stopWait, services_.soundFonts},
                buttons_, [this] { paintSkins(); }),
      controls_(session_.tuning, *this, services_.dialogs, [this] { port().allNotesOff(); }) {
    setWindowTitle(QStringLiteral("Pitchloom Pro"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/pitchloom.png")));
    setFixedSize(kClientWidth, kClientHeight);
    setAcceptDrops(true);
    controls_.setSongSource([this] { return std::span<const std::uint8_t>(session_.loadedSong); });
    session_.offsetsFitted = [this] { controls_.showFittedOffsets(); };
    playback_.onInputGone([this] {
        if (typeDialog_) typeDialog_->showCurrentInput();
    });
    // The song buffer, the output and the device type come first: the device type dialog is the
    // first window a user sees, and it need not wait for the panel to be built.
    playback_.startOutput();
    askDeviceType(nullptr);
    createControls();
    OnInitDialog();
}

MainDialog::~MainDialog() {
    OnDestroy();
}

void MainDialog::createControls() {
    QFont font = this->font();
    font.setPointSize(9);
    setFont(font);

    for (int i = 0; i < 20; ++i)
        skins_[static_cast<std::size_t>(i)] = new SkinWindow(this);
    skins_[0]->setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks pass the background

    const std::array<std::pair<const char*, QRect>, 8> labels = {{
        {"Key", dialogUnits(6, 115, 35, 15)},
        {"Scale", dialogUnits(6, 135, 35, 15)},
        {"Tuning", dialogUnits(6, 155, 35, 15)},
        {"Setting", dialogUnits(10, 181, 35, 35)},
        {"Midi", dialogUnits(10, 225, 35, 15)},
        {"Add specified scale and tuning to file.", dialogUnits(131, 40, 130, 20)},
        {"Play file with specified scale and tuning.", dialogUnits(131, 18, 130, 19)},
        {"Device", dialogUnits(6, 95, 35, 15)},
    }};
    for (std::size_t i = 0; i < labels.size(); ++i) {
        auto* label = new QLabel(QString::fromLatin1(labels[i].first), this);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setGeometry(labels[i].second);
        labels_[i] = label;
    }

    auto makeList = [this](int y) {
        auto* list = new ListBox(this);
        list->setEditable(false);
        list->setMaxVisibleItems(12);
        list->view()->setMinimumWidth(kListPopupWidth);
        // As wide as the panel allows, so that the longest labels ("Okinawan scale", "Just
        // Intonation") show whole.
        const QRect r = dialogUnits(38, y, 72, 12);
        list->setGeometry(r.x(), r.y(), r.width(), 20);
        // The wheel acts on a list only once the user has clicked or tabbed into it.
        list->setFocusPolicy(Qt::StrongFocus);
        list->installEventFilter(this);
        return list;
    };
    deviceList_ = makeList(95);
    keyList_ = makeList(115);
    scaleList_ = makeList(135);
    tuningList_ = makeList(155);

    for (std::size_t i = 0; i < 12; ++i) {
        auto* box = new QLineEdit(this);
        box->setReadOnly(true);
        box->setAlignment(Qt::AlignCenter);
        box->setFocusPolicy(Qt::NoFocus);
        box->setGeometry(dialogUnits(kValueBoxX[i], 188, 20, 13));
        valueBoxes_[i] = box;

        auto* bar = new QScrollBar(Qt::Vertical, this);
        bar->setGeometry(dialogUnits(kSliderX[i], 207, 10, 74));
        bar->setTracking(false);
        bar->setFocusPolicy(Qt::StrongFocus);          // the arrow and page keys move it too
        bar->setContextMenuPolicy(Qt::NoContextMenu);  // its "Scroll here" would skip the offsets
        bar->installEventFilter(this);
        // Greyed, the handle sinks into the panel and the arrows lose their colour.
        QPalette greyed = bar->palette();
        greyed.setColor(QPalette::Disabled, QPalette::Button, greyed.color(QPalette::Window));
        greyed.setColor(QPalette::Disabled, QPalette::WindowText, kGreyedArrow);
        greyed.setColor(QPalette::Disabled, QPalette::ButtonText, kGreyedArrow);
        bar->setPalette(greyed);
        sliders_[i] = bar;
    }

    logo_ = new QLabel(this);
    logo_->setGeometry(dialogUnits(7, 7, 114, 67).topLeft().x(),
                       dialogUnits(7, 7, 114, 67).topLeft().y(), 200, 100);
    logo_->setPixmap(loadSkinBitmap(130));
    logo_->setAttribute(Qt::WA_TransparentForMouseEvents);

    connectControls();
}

void MainDialog::connectControls() {
    for (int i = 0; i < 12; ++i) {
        QScrollBar* bar = sliders_[static_cast<std::size_t>(i)];
        connect(bar, &QScrollBar::actionTriggered, this,
                [this, i](int action) { onSliderAction(i, action); });
        connect(bar, &QScrollBar::sliderMoved, this, [this, i](int position) {
            controls_.onSliderScroll(ScrollCode::ThumbTrack, position, i);
        });
        connect(bar, &QScrollBar::sliderReleased, this, [this, i] { onSliderReleased(i); });
    }
    connect(scaleList_, &QComboBox::activated, this, [this] { controls_.applyScale(); });
    connect(tuningList_, &QComboBox::activated, this, [this] { controls_.applyTuning(); });
    connect(keyList_, &QComboBox::activated, this, [this] { controls_.applyKey(); });
    connect(deviceList_, &QComboBox::activated, this, &MainDialog::onDeviceSelected);
}

void MainDialog::createSkins() {
    pictures_.create(skins_[0], rect(), 131);

    const KeyLayout& c = kKeys[0];
    auto keyRect = [](const KeyLayout& k) { return QRect(k.left, k.top, 45, 78); };
    keys_.create([this](int i) { onSkinKey(i); }, [](int) {}, skins_[8], keyRect(c),
                 QString::fromLatin1(c.caption), 140, 139, 0);
    for (int i = 1; i < 12; ++i) {
        const KeyLayout& k = kKeys[static_cast<std::size_t>(i)];
        keys_.add(skins_[static_cast<std::size_t>(8 + i)], keyRect(k),
                  QString::fromLatin1(k.caption), k.black ? 138 : 140, k.black ? 141 : 139, i);
    }
}

void MainDialog::OnInitDialog() {
    createSkins();
    controls_.showScaleKeys();

    const ButtonLayout& power = kButtons[0];
    buttons_.create([this](int i) { onSkinButton(i); }, [](int) {}, skins_[1], power.rect,
                    QString::fromLatin1(power.caption), power.normalId, power.pressedId, -1);
    skins_[1]->setIndex(0);
    for (int i = 1; i < 7; ++i) {
        const ButtonLayout& b = kButtons[static_cast<std::size_t>(i)];
        buttons_.add(skins_[static_cast<std::size_t>(1 + i)], b.rect,
                     QString::fromLatin1(b.caption), b.normalId, b.pressedId, -1);
        skins_[static_cast<std::size_t>(1 + i)]->setIndex(i);
    }
    // The standard controls lie above the skins.
    pictures_.paintAll();
    skins_[0]->lower();
    for (QWidget* w : standardControls())
        w->raise();

    controls_.initTuningControls();
    fillDeviceList();
    QTimer::singleShot(0, this, [this] { paintSkins(); });
}

void MainDialog::fillDeviceList() {
    playback_.fillDeviceList(*deviceList_);
}

SkinWindow* MainDialog::skinWindow(int id) const {
    if (id < 1073 || id > 1092) return nullptr;
    return skins_[static_cast<std::size_t>(id - 1073)];
}

QList<QWidget*> MainDialog::standardControls() const {
    QList<QWidget*> list{logo_, deviceList_, keyList_, tuningList_, scaleList_};
    for (QScrollBar* s : sliders_)
        list.append(s);
    for (QLabel* l : labels_)
        list.append(l);
    for (QLineEdit* e : valueBoxes_)
        list.append(e);
    return list;
}

void MainDialog::onSkinButton(int index) {
    switch (index) {
        case 0:  // Power
            playback_.stopIfPlaying();
            QTimer::singleShot(0, this, [this] { done(QDialog::Accepted); });
            break;
        case 1:
            showHelp();
            break;
        case 2:
            runTypeCommand();
            break;
        case 3:
            controls_.saveScaleFile();
            break;
        case 4:
            controls_.loadScaleFile();
            paintSkins();  // the keys show the loaded scale at once
            break;
        case 5:
            playback_.togglePlay();
            break;
        case 6:
            runConvert();
            break;
        default:
            break;
    }
}

void MainDialog::onSkinKey(int index) {
    if (index >= 0 && index < 12) controls_.togglePitchClass(index);
}

void MainDialog::runTypeCommand() {
    if (playback_.isPlaying()) {
        services_.dialogs.showMessage(messages::kStopPlayingFirst, BoxStyle::SystemModal);
        return;
    }
    askDeviceType(this);
}

void MainDialog::askDeviceType(QWidget* parent) {
    DeviceTypeDialog dialog(session_.deviceType, session_.tuning, services_.dialogs,
                            &playback_.inputRelay(), parent);
    typeDialog_ = &dialog;
    if (services_.runDeviceTypeDialog) {
        services_.runDeviceTypeDialog(dialog);
    } else {
        dialog.exec();
    }
}

void MainDialog::runConvert() {
    session_.convert(playback_.isPlaying(), PipeWait::No,
                     [this](const std::string& path) { return playback_.renderAudio(path); });
}

void MainDialog::showHelp() {
    if (!help_) help_ = new HelpWindow(this);
    help_->showIndex();
}

void MainDialog::openDroppedFile(const QString& path) {
    const std::string file = path.toStdString();
    if (!hasMidiExtension(file)) return;
    playback_.playFile(file);
}

void MainDialog::openWhenShown(const QString& path) {
    pendingFile_ = path;
    if (isVisible()) QTimer::singleShot(0, this, &MainDialog::openPendingFile);
}

void MainDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!pendingFile_.isEmpty()) QTimer::singleShot(0, this, &MainDialog::openPendingFile);
}

void MainDialog::openPendingFile() {
    if (pendingFile_.isEmpty() || !isVisible()) return;
    // A song must not start behind a box that still waits for the user, nor before the window
    // itself is on the screen.
    const QWidget* modal = QApplication::activeModalWidget();
    const bool exposed = windowHandle() != nullptr && windowHandle()->isExposed();
    if ((modal != nullptr && modal != this) || !exposed) {
        QTimer::singleShot(kStartRetry, this, &MainDialog::openPendingFile);
        return;
    }
    openDroppedFile(std::exchange(pendingFile_, QString()));
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainDialog::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    event->acceptProposedAction();
    dropFiles(event->mimeData()->urls());
}

void MainDialog::dropFiles(const QList<QUrl>& urls) {
    if (urls.isEmpty()) return;
    const QUrl& first = urls.first();  // further files are ignored
    if (first.isLocalFile()) openDroppedFile(first.toLocalFile());
}

void MainDialog::onDeviceSelected(int row) {
    playback_.selectDevice(*deviceList_, row);
}

bool MainDialog::isList(QObject* object) const {
    return object == deviceList_ || object == keyList_ || object == scaleList_ ||
           object == tuningList_;
}

int MainDialog::sliderIndexOf(QObject* object) const {
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        if (sliders_[i] == object) return static_cast<int>(i);
    }
    return -1;
}

// A scroll action ends when the mouse button or the key that drives it is let go (however long
// it repeated), or at once for a turn of the wheel.
bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (isList(watched)) {
        // The wheel acts on a list only once the user has clicked into it or tabbed to it; the
        // focus a list gets when the window opens is not the user's choice.
        if (event->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                reason == Qt::BacktabFocusReason) {
                wheelList_ = watched;
            }
        } else if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
                wheelList_ == watched) {
                wheelList_ = nullptr;
            }
        } else if (event->type() == QEvent::Wheel) {
            if (wheelList_ != watched || !static_cast<QWidget*>(watched)->hasFocus()) return true;
        }
        return QDialog::eventFilter(watched, event);
    }
    const int slider = sliderIndexOf(watched);
    // A greyed slider takes no part: the scale in force is not tuned by the sliders.
    if (slider < 0 || !sliders_[static_cast<std::size_t>(slider)]->isEnabled()) {
        return QDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::MouseButtonRelease:
            endSliderScroll(slider);
            break;
        case QEvent::KeyRelease:
            if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) endSliderScroll(slider);
            break;
        case QEvent::Wheel: {
            const int angle = static_cast<QWheelEvent*>(event)->angleDelta().y();
            if (angle == 0) return true;
            const int notches = std::max(1, std::abs(angle) / QWheelEvent::DefaultDeltasPerStep);
            const int lines = notches * QApplication::wheelScrollLines();
            const ScrollCode code = angle > 0 ? ScrollCode::LineUp : ScrollCode::LineDown;
            QScrollBar* bar = sliders_[static_cast<std::size_t>(slider)];
            for (int i = 0; i < lines; ++i)
                controls_.onSliderScroll(code, bar->value(), slider);
            scrollInAction_[static_cast<std::size_t>(slider)] = true;
            endSliderScroll(slider);
            return true;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

void MainDialog::onSliderAction(int slider, int action) {
    QScrollBar* bar = sliders_[static_cast<std::size_t>(slider)];
    ScrollCode code = ScrollCode::Other;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            code = ScrollCode::LineUp;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            code = ScrollCode::LineDown;
            break;
        case QAbstractSlider::SliderPageStepSub:
            code = ScrollCode::PageUp;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            code = ScrollCode::PageDown;
            break;
        case QAbstractSlider::SliderToMinimum:
            code = ScrollCode::Top;
            break;
        case QAbstractSlider::SliderToMaximum:
            code = ScrollCode::Bottom;
            break;
        case QAbstractSlider::SliderMove:
            return;  // a drag: reported as it moves and when it is released
        default:
            break;
    }
    // The controls move the slider themselves; undo the step the scroll bar was about to take.
    bar->setSliderPosition(bar->value());
    controls_.onSliderScroll(code, bar->value(), slider);
    scrollInAction_[static_cast<std::size_t>(slider)] = true;
}

void MainDialog::onSliderReleased(int slider) {
    QScrollBar* bar = sliders_[static_cast<std::size_t>(slider)];
    controls_.onSliderScroll(ScrollCode::ThumbPosition, bar->sliderPosition(), slider);
    scrollInAction_[static_cast<std::size_t>(slider)] = true;
    endSliderScroll(slider);
}

void MainDialog::endSliderScroll(int slider) {
    bool& inAction = scrollInAction_[static_cast<std::size_t>(slider)];
    if (!inAction) return;
    inAction = false;
    controls_.onSliderScroll(ScrollCode::EndScroll,
                             sliders_[static_cast<std::size_t>(slider)]->value(), slider);
}

void MainDialog::paintSkins() {
    pictures_.paintAll();
    buttons_.paintAll();
    keys_.paintAll();
    for (QWidget* w : standardControls())
        w->update();
}

void MainDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    paintSkins();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            done(QDialog::Accepted);
            return;
        case Qt::Key_Escape:
            done(QDialog::Rejected);
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    done(QDialog::Rejected);
    event->accept();
}

void MainDialog::done(int result) {
    // However the window ends, playback stops before the port and the song go away.
    playback_.stopIfPlaying();
    QDialog::done(result);
}

void MainDialog::OnDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    playback_.stopNow();
    if (services_.releaseWaits) services_.releaseWaits();
    pictures_.releaseSurfaces();
    buttons_.releaseSurfaces();
    keys_.releaseSurfaces();
    // After the waits are released: the input's watcher may wait on a box that says it went.
    playback_.closeInput();
    playback_.closeOutput();
}

void MainDialog::requestRepaint() {
    paintSkins();
}

QComboBox* MainDialog::listOf(TuningList list) const {
    switch (list) {
        case TuningList::Key:
            return keyList_;
        case TuningList::Scale:
            return scaleList_;
        case TuningList::Tuning:
            return tuningList_;
    }
    return keyList_;
}

int MainDialog::selectedRow(TuningList list) const {
    return listOf(list)->currentIndex();
}

void MainDialog::selectRow(TuningList list, int row) {
    QComboBox* box = listOf(list);
    if (row >= 0 && row < box->count()) box->setCurrentIndex(row);
}

void MainDialog::fillList(TuningList list, std::span<const std::string_view> labels) {
    QComboBox* box = listOf(list);
    box->clear();
    for (std::string_view label : labels)
        box->addItem(qs(label));
    box->setCurrentIndex(-1);
}

void MainDialog::setSliderRange(int slider, int minimum, int maximum) {
    QScrollBar* bar = sliders_[static_cast<std::size_t>(slider)];
    bar->setRange(minimum, maximum);
    bar->setSingleStep(kSliderLineStep);
    bar->setPageStep(kSliderPageStep);
}

int MainDialog::sliderPosition(int slider) const {
    return sliders_[static_cast<std::size_t>(slider)]->value();
}

void MainDialog::setSliderPosition(int slider, int position) {
    sliders_[static_cast<std::size_t>(slider)]->setValue(position);
}

void MainDialog::setValueText(int box, std::string_view text) {
    valueBoxes_[static_cast<std::size_t>(box)]->setText(qs(text));
}

void MainDialog::setKeyLit(int key, bool lit) {
    keys_.setLit(key, lit);
}

void MainDialog::setRowLabel(TuningList list, int row, std::string_view label) {
    QComboBox* box = listOf(list);
    if (row < 0 || row >= box->count()) return;
    const QString text = qs(label);
    box->setItemText(row, text);
    // The box shows a long label cut; its popup and its tooltip show it whole.
    const QFontMetrics metrics(box->view()->font());
    int widest = kListPopupWidth;
    for (int i = 0; i < box->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(box->itemText(i)) + kPopupMargin);
    box->view()->setMinimumWidth(widest);
    const bool cut = box->fontMetrics().horizontalAdvance(text) > labelWidth(*box);
    box->setToolTip(cut ? text : QString());
}

void MainDialog::setSlidersEnabled(bool enabled, std::string_view why) {
    const QString tip = qs(why);
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        sliders_[i]->setEnabled(enabled);
        sliders_[i]->setToolTip(tip);
        valueBoxes_[i]->setEnabled(enabled);
        valueBoxes_[i]->setToolTip(tip);
    }
}

void MainDialog::setKeysEnabled(bool enabled, std::string_view why) {
    const QString tip = qs(why);
    for (int i = 0; i < 12; ++i) {
        SkinWindow* key = skins_[static_cast<std::size_t>(8 + i)];
        key->setEnabled(enabled);
        key->setToolTip(tip);
        keys_.setLit(i, keys_.isLit(i));  // drawn again in the look of its new state
    }
    keys_.paintAll();
}

}  // namespace pitchloom
