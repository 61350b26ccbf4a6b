#include "ui/skin_window.h"

#include <QMouseEvent>
#include <QPainter>

namespace pitchloom {

SkinWindow::SkinWindow(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SkinWindow::setHandlers(Handler press, Handler release) {
    press_ = std::move(press);
    release_ = std::move(release);
}

void SkinWindow::showFace(const QPixmap& face) {
    face_ = face;
    update();
}

void SkinWindow::paintEvent(QPaintEvent*) {
    if (face_.isNull()) return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, face_);
}

void SkinWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    if (press_) {
        const QPoint p = event->position().toPoint();
        press_(p.x(), p.y(), index_);
    }
}

void SkinWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    // Qt delivers the release to the pressed widget even outside it; one outside reaches no
    // handler, since leaving the window has already released the face.
    pressed_ = false;
    const QPoint p = event->position().toPoint();
    if (release_ && rect().contains(p)) release_(p.x(), p.y(), index_);
}

void SkinWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double-click is no press: only its release is reported.
    event->accept();
}

void SkinWindow::mouseMoveEvent(QMouseEvent* event) {
    // While the button is held Qt keeps the mouse grabbed, so leaving shows up as a move.
    if (pressed_ && !rect().contains(event->position().toPoint())) leaveWhilePressed();
    QWidget::mouseMoveEvent(event);
}

void SkinWindow::leaveWhilePressed() {
    if (!pressed_) return;
    pressed_ = false;
    if (release_) release_(-1, -1, index_);
}

void SkinWindow::leaveEvent(QEvent* event) {
    leaveWhilePressed();
    QWidget::leaveEvent(event);
}

}  // namespace pitchloom
