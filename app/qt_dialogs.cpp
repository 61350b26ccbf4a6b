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

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString nameFilter(const FileFilter& filter) {
    return QStringLiteral("%1 (%2)").arg(qs(filter.description), qs(filter.pattern));
}

}  // namespace

std::optional<std::string> QtUserDialogs::askPath(std::span<const FileFilter> filters, bool save) {
    if (filters.empty()) return std::nullopt;
    QFileDialog dialog(window_);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QStringList names;
    for (const FileFilter& f : filters)
        names << nameFilter(f);
    dialog.setNameFilters(names);
    dialog.setDefaultSuffix(qs(filters.front().defaultExtension));
    // A name typed without an extension gets the one of the filter chosen.
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog, filters, names](const QString& chosen) {
            const auto at = names.indexOf(chosen);
            if (at >= 0) {
                dialog.setDefaultSuffix(qs(filters[static_cast<std::size_t>(at)].defaultExtension));
            }
        });
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtUserDialogs::askOpenPath(std::span<const FileFilter> filters) {
    return askPath(filters, false);
}

std::optional<std::string> QtUserDialogs::askSavePath(std::span<const FileFilter> filters) {
    return askPath(filters, true);
}

}  // namespace pitchloom
