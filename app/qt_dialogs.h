#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "base/user_dialogs.h"

namespace pitchloom {

/// Message boxes and file dialogs with Qt. A box asked for from another thread is shown on the
/// window thread while the asking thread waits; cancelPending() releases such waits when the
/// program ends, so no thread waits on a window that is gone.
class QtUserDialogs : public QObject, public UserDialogs {
    Q_OBJECT
public:
    explicit QtUserDialogs(QObject* parent = nullptr);

    /// The window the boxes and dialogs belong to.
    void setParentWindow(QWidget* window) { window_ = window; }

    void showMessage(std::string_view text, BoxStyle style) override;
    std::optional<std::string> askOpenPath(const FileFilter& filter) override;
    std::optional<std::string> askSavePath(const FileFilter& filter) override;

    /// From now on boxes from other threads return at once, and waiting ones are released.
    void cancelPending();

private:
    void showBox(const QString& text, BoxStyle style);
    std::optional<std::string> askPath(const FileFilter& filter, bool save);

    QPointer<QWidget> window_;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool cancelled_ = false;
};

}  // namespace pitchloom
