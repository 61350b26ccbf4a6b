#include "app/window_playback.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>
#include <QThread>
#include <limits>

#include "base/messages.h"
#include "playback/audio/audio_render.h"

namespace pitchloom {

namespace {

constexpr int kPlayButton = 5;

// The dialogs of a render: a message box takes the progress dialog off the screen first, so the
// box does not stand over a bar that has stopped. The box that says the file is written waits
// for the render's end, which may have a line to add to it.
class RenderDialogs : public UserDialogs {
public:
    RenderDialogs(UserDialogs& dialogs, QProgressDialog& progress)
        : dialogs_(dialogs), progress_(progress) {}

    void showMessage(std::string_view text, BoxStyle style) override {
        progress_.hide();
        if (text == messages::kWrittenToFile) {
            written_ = style;
            return;
        }
        dialogs_.showMessage(text, style);
    }
    /// The box held back, with the line on the notes played off their tuning when there are any.
    void showWritten(const std::optional<RetuneReport>& retune) {
        if (!written_) return;
        std::string text(messages::kWrittenToFile);
        if (retune && retune->missed()) text += "\n" + describeOffTuning(*retune);
        dialogs_.showMessage(text, *written_);
    }
    void showDetail(std::string_view detail) override { dialogs_.showDetail(detail); }
    std::optional<std::string> askOpenPath(std::span<const FileFilter> filters) override {
        return dialogs_.askOpenPath(filters);
    }
    std::optional<std::string> askSavePath(std::span<const FileFilter> filters) override {
        return dialogs_.askSavePath(filters);
    }

private:
    UserDialogs& dialogs_;
    QProgressDialog& progress_;
    std::optional<BoxStyle> written_;
};

}  // namespace

WindowPlayback::WindowPlayback(QWidget& window, Session& session, Services services,
                               SkinButtonSet& buttons, std::function<void()> repaint)
    : window_(window),
      session_(session),
      services_(std::move(services)),
      buttons_(buttons),
      repaint_(std::move(repaint)),
      player_(session.attachPlayer(services_.output, services_.timers, *this)),
      inputRelay_(
          std::make_unique<InputRelay>(services_.input, player_.sequencer, services_.dialogs)) {
    player_.sequencer.setStopWait(services_.stopWait);
}

WindowPlayback::~WindowPlayback() {
    inputRelay_.reset();
    session_.player.reset();
}

void WindowPlayback::onInputGone(std::function<void()> shown) {
    inputRelay_->setGoneHandler([this, shown = std::move(shown)](const std::string& text) {
        // The box on the window thread: the relay's watcher must not wait for the user.
        onWindowThread([this, shown, text] {
            shown();
            services_.dialogs.showMessage(text, BoxStyle::Plain);
        });
    });
}

void WindowPlayback::closeInput() {
    inputRelay_->selectInput(kNoInputId);
}

void WindowPlayback::startOutput() {
    player_.port.initOutput(session_.song);
}

void WindowPlayback::stopNow() {
    if (!isPlaying()) return;
    player_.sequencer.setStopWait(std::chrono::milliseconds(0));
    player_.sequencer.stopPlayback();
}

void WindowPlayback::closeOutput() {
    player_.port.shutdownOutput(session_.song);
}

void WindowPlayback::stopIfPlaying() {
    if (isPlaying()) player_.sequencer.stopPlayback();
}

void WindowPlayback::fillDeviceList(QComboBox& list) {
    list.clear();
    for (const auto& entry : player_.port.deviceList()) {
        list.addItem(QString::fromStdString(entry.name), entry.identifier);
    }
    list.setCurrentIndex(0);
}

void WindowPlayback::selectDevice(const QComboBox& list, int row) {
    const QVariant id = list.itemData(row);
    if (!id.isValid()) return;
    // Reopening the device in use would silence the song and lose its instruments and tuning.
    if (id.toInt() == player_.port.currentIdentifier() && player_.port.isOpen()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    player_.port.selectDevice(id.toInt());
    QApplication::restoreOverrideCursor();
}

bool WindowPlayback::refusesTuning() {
    const auto why = whyCannotPlay(session_.deviceType.load(), session_.tuning);
    if (!why) return false;
    services_.dialogs.showMessage(*why, BoxStyle::SystemModal);
    return true;
}

void WindowPlayback::togglePlay() {
    if (!isPlaying() && refusesTuning()) return;
    player_.sequencer.TogglePlay();
}

void WindowPlayback::playFile(const std::string& path) {
    if (refusesTuning()) return;
    if (isPlaying()) {
        player_.sequencer.stopPlayback();
        player_.port.allNotesOff();
    }
    if (session_.loader.loadSongFromPath(path)) player_.sequencer.beginPlayback();
}

bool WindowPlayback::renderAudio(const std::string& path) {
    constexpr int kSteps = 1000;
    QProgressDialog progress(
        QStringLiteral("Writing %1 ...").arg(QFileInfo(QString::fromStdString(path)).fileName()),
        QStringLiteral("Cancel"), 0, kSteps, &window_);
    progress.setWindowTitle(QStringLiteral("Pitchloom Pro"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // A render done within a moment shows nothing; a longer one shows the dialog, modal to the
    // window, and from then on keeps the screen painted and the Cancel button live.
    constexpr qint64 kShowAfterMs = 200;
    progress.setMinimumDuration(std::numeric_limits<int>::max());
    RenderDialogs dialogs(services_.dialogs, progress);
    QElapsedTimer clock;
    clock.start();
    const RenderResult result = renderSong(
        {session_.song, session_.tuning, session_.deviceType.load(), dialogs, session_.loader},
        path, AudioFormat::Wav16,
        [&](double done) {
            if (!progress.isVisible() && clock.elapsed() >= kShowAfterMs) progress.show();
            progress.setValue(static_cast<int>(done * kSteps));
            if (progress.isVisible()) QCoreApplication::processEvents();
            return !progress.wasCanceled();
        },
        services_.soundFonts);
    dialogs.showWritten(result.retune);
    return result.outcome == RenderOutcome::Written;
}

void WindowPlayback::onWindowThread(std::function<void()> work) {
    if (QThread::currentThread() == window_.thread()) {
        work();
    } else {
        QMetaObject::invokeMethod(&window_, std::move(work), Qt::QueuedConnection);
    }
}

void WindowPlayback::setPlayCaption(std::string_view caption) {
    const QString text = QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
    const bool stopped = caption == kPlayCaption;
    onWindowThread([this, text, stopped] {
        // A "     Play" from the end of a song arrives late when a new song has started since.
        if (stopped && isPlaying()) return;
        buttons_.setCaption(kPlayButton, text);
        // Shown at once: a button still reading "Play" invites a press that stops the song.
        buttons_.paintAll();
    });
}

void WindowPlayback::requestRepaint() {
    // The skins cover the whole window, so Qt may never repaint the window under them: show
    // their surfaces directly.
    onWindowThread([this] { repaint_(); });
}

void WindowPlayback::setWaitCursor(bool waiting) {
    onWindowThread([this, waiting] {
        if (waiting && !waitCursor_) QApplication::setOverrideCursor(Qt::WaitCursor);
        if (!waiting && waitCursor_) QApplication::restoreOverrideCursor();
        waitCursor_ = waiting;
    });
}

}  // namespace pitchloom
