#pragma once

#include <QPixmap>
#include <QRect>
#include <QString>
#include <array>
#include <functional>

#include "ui/skin_window.h"

namespace pitchloom {

/// A bitmap of the program's resources by numeric id (":/bitmaps/<id>.png"); null if missing.
QPixmap loadSkinBitmap(int id);

/// Background pictures: each entry copies its bitmap onto its window.
class SkinPictureSet {
public:
    static constexpr int kCapacity = 20;

    /// Sets up entry 0.
    void create(SkinWindow* window, const QRect& rect, int bitmapId);
    void add(SkinWindow* window, const QRect& rect, int bitmapId);
    /// Copies every entry's surface onto its window, in index order.
    void paintAll();
    void releaseSurfaces();
    int count() const { return count_; }

private:
    struct Entry {
        QPixmap bitmap;
        QPixmap surface;
        SkinWindow* window = nullptr;
    };
    void render(int i);
    void present(int i);
    std::array<Entry, kCapacity> entries_{};
    int count_ = 0;
};

/// What buttons and keys share: a face of two bitmaps with a caption, drawn off screen.
class SkinFaceSet {
public:
    static constexpr int kCapacity = 64;
    using Callback = std::function<void(int index)>;

    void paintAll();
    void releaseSurfaces();
    int count() const { return count_; }
    /// The surface of an entry as last rendered (what the next present shows).
    const QPixmap& surface(int position) const { return entries_[position].surface; }
    QString caption(int position) const { return entries_[position].caption; }

protected:
    struct Entry {
        bool on = false;  // pressed (buttons) or lit (keys)
        QPixmap offBitmap;
        QPixmap onBitmap;
        QString caption;
        QPixmap surface;
        SkinWindow* window = nullptr;
    };

    void setUp(SkinWindow* window, const QRect& rect);
    void addEntry(SkinWindow* window, const QRect& rect, const QString& caption, int offId,
                  int onId, int index);
    void render(int i);
    void present(int i);
    bool validPosition(int i) const { return i >= 0 && i < count_; }

    std::array<Entry, kCapacity> entries_{};
    int count_ = 0;
    Callback command_;
    Callback afterRelease_;
};

/// Push buttons: the command runs on the press; the face shows pressed until release or leave.
class SkinButtonSet : public SkinFaceSet {
public:
    void create(Callback command, Callback afterRelease, SkinWindow* window, const QRect& rect,
                const QString& caption, int normalId, int pressedId, int index);
    void add(SkinWindow* window, const QRect& rect, const QString& caption, int normalId,
             int pressedId, int index);
    /// Replaces the caption of the first button whose window has that index and renders it.
    void setCaption(int index, const QString& text);
    bool isPressed(int position) const { return entries_[position].on; }

private:
    void onPress(int index);
    void onRelease(int index);
};

/// Toggle keys: a press toggles the lit flag, then runs the command, then shows the flag.
class SkinKeySet : public SkinFaceSet {
public:
    void create(Callback command, Callback afterRelease, SkinWindow* window, const QRect& rect,
                const QString& caption, int unlitId, int litId, int index);
    void add(SkinWindow* window, const QRect& rect, const QString& caption, int unlitId, int litId,
             int index);
    /// Sets the lit flag and renders the face off screen.
    void setLit(int index, bool lit);
    bool isLit(int position) const { return entries_[position].on; }

private:
    void onPress(int index);
    void onRelease(int index);
};

}  // namespace pitchloom
