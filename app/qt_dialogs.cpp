#include "app/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <memory>

namespace pitchloom {

QtUserDialogs::QtUserDialogs(QObject* parent) : QObject(parent) {}

void QtUserDialogs::showBox(const QString& text, BoxStyle style) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Pitchloom Pro"), text, QMessageBox::Ok,
                    window_);
    box.setWindowModality(Qt::ApplicationModal);
    if (style == BoxStyle::SystemModal) {
        box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    }
    box.exec();
}

void QtUserDialogs::showMessage(std::string_view text, BoxStyle style) {
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (QThread::currentThread() == thread()) {
        showBox(qtext, style);
        return;
    }
    // Another thread (the sequencer's timer): show it on the window thread and wait for OK.
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, qtext, style, done] {
            {
                std::lock_guard lock(mutex_);
                if (cancelled_) return;
            }
            showBox(qtext, style);
            {
                std::lock_guard lock(mutex_);
                *done = true;
            }
            answered_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return *done || cancelled_; });
}

void QtUserDialogs::cancelPending() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    answered_.notify_all();
}

std::optional<std::string> QtUserDialogs::askPath(const FileFilter& filter, bool save) {
    QFileDialog dialog(window_);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("%1 (%2)").arg(
        QString::fromUtf8(filter.description.data(),
                          static_cast<qsizetype>(filter.description.size())),
        QString::fromUtf8(filter.pattern.data(), static_cast<qsizetype>(filter.pattern.size()))));
    dialog.setDefaultSuffix(QString::fromUtf8(
        filter.defaultExtension.data(), static_cast<qsizetype>(filter.defaultExtension.size())));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtUserDialogs::askOpenPath(const FileFilter& filter) {
    return askPath(filter, false);
}

std::optional<std::string> QtUserDialogs::askSavePath(const FileFilter& filter) {
    return askPath(filter, true);
}

}  // namespace pitchloom
