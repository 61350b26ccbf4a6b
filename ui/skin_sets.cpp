#include "ui/skin_sets.h"

#include <QPainter>

namespace pitchloom {

namespace {

const QColor kCaptionEnabled(0, 100, 0);
const QColor kCaptionDisabled(100, 100, 50);
// Laid over a face that cannot be pressed, so that it reads as greyed whatever its bitmap.
const QColor kDisabledWash(128, 128, 128, 120);

void placeWindow(SkinWindow* window, const QRect& rect) {
    window->setGeometry(rect);
    window->raise();
}

}  // namespace

QPixmap loadSkinBitmap(int id) {
    return QPixmap(QStringLiteral(":/bitmaps/%1.png").arg(id));
}

void SkinPictureSet::create(SkinWindow* window, const QRect& rect, int bitmapId) {
    count_ = 0;
    add(window, rect, bitmapId);
}

void SkinPictureSet::add(SkinWindow* window, const QRect& rect, int bitmapId) {
    if (count_ >= kCapacity) return;
    const int n = count_;
    placeWindow(window, rect);
    window->setHandlers({}, {});
    Entry& e = entries_[n];
    e.surface = QPixmap(rect.size());
    e.surface.fill(Qt::white);
    e.window = window;
    e.bitmap = loadSkinBitmap(bitmapId);
    render(n);
    count_ = n + 1;
}

void SkinPictureSet::render(int i) {
    Entry& e = entries_[i];
    if (e.surface.isNull()) return;
    QPainter painter(&e.surface);
    if (!e.bitmap.isNull()) painter.drawPixmap(0, 0, e.bitmap);
}

void SkinPictureSet::present(int i) {
    Entry& e = entries_[i];
    if (e.window && !e.surface.isNull()) e.window->showFace(e.surface);
}

void SkinPictureSet::paintAll() {
    for (int i = 0; i < count_; ++i)
        present(i);
}

void SkinPictureSet::releaseSurfaces() {
    for (int i = 0; i < count_; ++i)
        entries_[i].surface = QPixmap();
}

void SkinFaceSet::setUp(SkinWindow* window, const QRect& rect) {
    placeWindow(window, rect);
    entries_[count_].surface = QPixmap(rect.size());
}

void SkinFaceSet::addEntry(SkinWindow* window, const QRect& rect, const QString& caption, int offId,
                           int onId, int index) {
    if (count_ >= kCapacity) return;
    const int n = count_;
    setUp(window, rect);
    Entry& e = entries_[n];
    e.offBitmap = loadSkinBitmap(offId);
    e.onBitmap = loadSkinBitmap(onId);
    e.caption = caption;
    e.window = window;
    window->setIndex(index);
    render(n);
    e.on = false;
    count_ = n + 1;
}

void SkinFaceSet::render(int i) {
    Entry& e = entries_[i];
    if (e.surface.isNull()) return;
    QPainter painter(&e.surface);
    painter.fillRect(e.surface.rect(), Qt::white);
    const QPixmap& bitmap = e.on ? e.onBitmap : e.offBitmap;
    if (!bitmap.isNull()) painter.drawPixmap(0, 0, bitmap);
    const bool enabled = e.window && e.window->isEnabled();
    if (!enabled) painter.fillRect(e.surface.rect(), kDisabledWash);
    painter.setPen(enabled ? kCaptionEnabled : kCaptionDisabled);
    if (e.window) painter.setFont(e.window->font());
    painter.drawText(QRect(QPoint(2, 2), QPoint(209, 27)),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, e.caption);
}

void SkinFaceSet::present(int i) {
    Entry& e = entries_[i];
    if (e.window && !e.surface.isNull()) e.window->showFace(e.surface);
}

void SkinFaceSet::paintAll() {
    for (int i = 0; i < count_; ++i)
        present(i);
}

void SkinFaceSet::releaseSurfaces() {
    for (int i = 0; i < count_; ++i)
        entries_[i].surface = QPixmap();
}

void SkinButtonSet::create(Callback command, Callback afterRelease, SkinWindow* window,
                           const QRect& rect, const QString& caption, int normalId, int pressedId,
                           int index) {
    command_ = std::move(command);
    afterRelease_ = std::move(afterRelease);
    count_ = 0;
    add(window, rect, caption, normalId, pressedId, index);
}

void SkinButtonSet::add(SkinWindow* window, const QRect& rect, const QString& caption, int normalId,
                        int pressedId, int index) {
    window->setHandlers([this](int, int, int i) { onPress(i); },
                        [this](int, int, int i) { onRelease(i); });
    addEntry(window, rect, caption, normalId, pressedId, index);
}

void SkinButtonSet::onPress(int index) {
    if (!validPosition(index)) return;
    entries_[index].on = true;
    render(index);
    present(index);
    if (command_) command_(index);
}

void SkinButtonSet::onRelease(int index) {
    if (!validPosition(index)) return;
    entries_[index].on = false;
    render(index);
    present(index);
    if (afterRelease_) afterRelease_(index);
}

void SkinButtonSet::setCaption(int index, const QString& text) {
    for (int i = 0; i < count_; ++i) {
        if (entries_[i].window && entries_[i].window->index() == index) {
            entries_[i].caption = text;
            render(i);
            return;
        }
    }
}

void SkinKeySet::create(Callback command, Callback afterRelease, SkinWindow* window,
                        const QRect& rect, const QString& caption, int unlitId, int litId,
                        int index) {
    command_ = std::move(command);
    afterRelease_ = std::move(afterRelease);
    count_ = 0;
    add(window, rect, caption, unlitId, litId, index);
}

void SkinKeySet::add(SkinWindow* window, const QRect& rect, const QString& caption, int unlitId,
                     int litId, int index) {
    window->setHandlers([this](int, int, int i) { onPress(i); },
                        [this](int, int, int i) { onRelease(i); });
    addEntry(window, rect, caption, unlitId, litId, index);
}

void SkinKeySet::setLit(int index, bool lit) {
    if (!validPosition(index)) return;
    entries_[index].on = lit;
    render(index);
}

void SkinKeySet::onPress(int index) {
    if (!validPosition(index)) return;
    entries_[index].on = !entries_[index].on;
    if (command_) command_(index);
    render(index);
    present(index);
}

void SkinKeySet::onRelease(int index) {
    if (!validPosition(index)) return;
    if (afterRelease_) afterRelease_(index);
    render(index);
    present(index);
}

}  // namespace pitchloom
