#pragma once

#include <QPixmap>
#include <QWidget>
#include <functional>

namespace pitchloom {

/// A picture control that reports left-button presses and releases with its entry index, and
/// shows the face a skin set last presented to it.
class SkinWindow : public QWidget {
    Q_OBJECT
public:
    /// (x, y, index); x = y = -1 when the pointer left the window while pressed.
    using Handler = std::function<void(int x, int y, int index)>;

    explicit SkinWindow(QWidget* parent = nullptr);

    int index() const { return index_; }
    void setIndex(int index) { index_ = index; }
    bool isPressed() const { return pressed_; }
    void setHandlers(Handler press, Handler release);

    /// Shows a copy of the surface from now on (the set's `present`).
    void showFace(const QPixmap& face);
    const QPixmap& face() const { return face_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void leaveWhilePressed();

    int index_ = -1;
    bool pressed_ = false;
    Handler press_;
    Handler release_;
    QPixmap face_;
};

}  // namespace pitchloom
