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
    std::optional<std::string> askOpenPath(std::span<const FileFilter> filters) override;
    std::optional<std::string> askSavePath(std::span<const FileFilter> filters) override;
    using UserDialogs::askOpenPath;
    using UserDialogs::askSavePath;

    /// From now on boxes from other threads return at once, and waiting ones are released.
    void cancelPending();

private:
    void showBox(const QString& text, BoxStyle style);
    std::optional<std::string> askPath(std::span<const FileFilter> filters, bool save);

    QPointer<QWidget> window_;
    std::mutex mutex_;
    std::condition_variable answered_;
    bool cancelled_ = false;
};

}  // namespace pitchloom
