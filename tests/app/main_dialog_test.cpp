#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest>
#include <atomic>
#include <memory>
#include <mutex>

#include "app/device_type_dialog.h"
#include "app/main_app.h"
#include "app/main_dialog.h"
#include "playback/outputs/recording_output.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"
#include "support/sine_soundfont.h"

using namespace pitchloom;
using test::Bytes;

namespace {

/// Keyboards that send when told and can be unplugged; our own port cannot be opened.
class FakeInputs : public MidiInputProvider {
public:
    std::vector<std::string> portNames() override {
        std::lock_guard lock(mutex_);
        return ports_;
    }
    std::unique_ptr<MidiInputDevice> open(int identifier, Receiver receive) override {
        if (identifier == kVirtualInputId) return nullptr;
        receive_ = std::move(receive);
        return std::make_unique<Device>(*this);
    }
    void play(const Bytes& message) const { receive_(message); }
    void plugIn(const std::string& name) {
        std::lock_guard lock(mutex_);
        ports_.insert(ports_.begin(), name);  // the ports after it move up
    }

    std::atomic<bool> plugged{true};
    std::atomic<int> openDevices{0};

private:
    struct Device : MidiInputDevice {
        explicit Device(FakeInputs& inputs) : inputs_(inputs) { ++inputs_.openDevices; }
        ~Device() override { --inputs_.openDevices; }
        bool present() override { return inputs_.plugged; }
        FakeInputs& inputs_;
    };
    std::mutex mutex_;
    std::vector<std::string> ports_{"Keys"};
    Receiver receive_;
};

/// A window wired to scripted dialogs, the recorder, fake keyboards and a stepped timer.
struct Window {
    test::ScriptedDialogs boxes;
    RecordingOutput output{{"Port A"}};
    FakeInputs inputs;
    ManualTimerService timers;
    int typeDialogs = 0;
    int keyRowsWhenTypeAsked = -1;
    std::function<void(DeviceTypeDialog&)> answerType = [](DeviceTypeDialog& d) {
        d.okButton()->click();
    };
    std::unique_ptr<MainDialog> dialog;

    Window() {
        MainDialog::Services services{boxes,
                                      output,
                                      inputs,
                                      timers,
                                      [this](DeviceTypeDialog& d) {
                                          ++typeDialogs;
                                          if (dialog) {
                                              keyRowsWhenTypeAsked = dialog->keyList()->count();
                                          } else {
                                              keyRowsWhenTypeAsked = 0;
                                          }
                                          answerType(d);
                                      },
                                      {},
                                      std::chrono::milliseconds(0),
                                      std::vector<std::string>{test::sineSoundFont()}};
        dialog = std::make_unique<MainDialog>(services);
    }

    QString playCaption() { return dialog->buttons().caption(5); }
    /// What the Play button shows on the screen, and the face rendered for its caption.
    QImage playButtonOnScreen() { return dialog->skinWindow(1079)->grab().toImage(); }
    QImage playFaceRendered() { return dialog->buttons().surface(5).toImage(); }
    void showWindow() {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void press(int skinId) {
        SkinWindow* w = dialog->skinWindow(skinId);
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(5, 5));
    }
    void drop(const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls.append(QUrl::fromLocalFile(p));
        dialog->dropFiles(urls);
    }
};

std::string songFile(const std::string& name) {
    test::TrackBuilder t;
    t.programChange(0, 0, 1).noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack();
    return test::writeTempFile(name, test::format0(480, t));
}

QStringList entries(const QComboBox& list) {
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.itemText(i);
    return texts;
}

void choose(QComboBox& list, const QString& text) {
    const int row = list.findText(text);
    QVERIFY(row >= 0);
    list.setCurrentIndex(row);
    emit list.activated(row);
}

bool anyNoteOn(const RecordingOutput& output) {
    for (const auto& m : output.messages()) {
        if (!m.sysEx && (m.bytes[0] & 0xF0) == 0x90) return true;
    }
    return false;
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { applyPitchloomPalette(); }

    void freshStartAsksForTheDeviceTypeThenShowsTheDefaults() {
        Window w;
        QCOMPARE(w.typeDialogs, 1);
        QCOMPARE(w.keyRowsWhenTypeAsked, 0);  // asked before the lists were filled
        QCOMPARE(w.dialog->deviceType().load(), DeviceType::GM);
        QCOMPARE(w.boxes.texts(),
                 std::vector<std::string>{"Setting of tuning will be ignored since you have "
                                          "selected GM."});
        QCOMPARE(w.dialog->windowTitle(), QStringLiteral("Pitchloom Pro"));
        QCOMPARE(w.dialog->size(), QSize(691, 430));
        QCOMPARE(w.dialog->deviceList()->currentText(), QStringLiteral("MIDI MAPPER"));
        QCOMPARE(w.dialog->deviceList()->count(), 2);
        QCOMPARE(w.dialog->keyList()->currentText(), QStringLiteral("C"));
        QCOMPARE(w.dialog->scaleList()->currentText(), QStringLiteral("Chromatic"));
        QCOMPARE(w.dialog->tuningList()->currentText(), QStringLiteral("Just Intonation"));
        QCOMPARE(w.dialog->valueBox(1)->text(), QStringLiteral("-8"));
        QCOMPARE(w.dialog->slider(1)->value(), 8);
        for (int i = 0; i < 12; ++i)
            QVERIFY(w.dialog->keys().isLit(i));
        QCOMPARE(w.playCaption(), QStringLiteral("     Play"));
        QCOMPARE(w.dialog->tuning().tuningChanged.load(), 1);
    }

    void keysStandOverTheirValueBoxes() {
        Window w;
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(w.dialog->skinWindow(1081 + i)->x(), w.dialog->valueBox(i)->x());
        }
    }

    void everyLabelOfTheListsShowsWholeWhenChosen() {
        Window w;
        for (QComboBox* list : {w.dialog->deviceList(), w.dialog->keyList(), w.dialog->scaleList(),
                                w.dialog->tuningList()}) {
            for (int i = 0; i < list->count(); ++i) {
                if (list == w.dialog->deviceList() && i > 0) break;  // the system's ports vary
                QComboBox alone;
                alone.setFont(list->font());
                alone.addItem(list->itemText(i));
                QVERIFY2(alone.sizeHint().width() <= list->width(), qPrintable(list->itemText(i)));
            }
        }
    }

    void standardControlsLieAboveTheSkins() {
        Window w;
        // children() lists siblings from the bottom of the stack to the top.
        const QObjectList stack = w.dialog->children();
        qsizetype highestSkin = -1;
        for (int id = 1073; id <= 1092; ++id) {
            highestSkin = std::max(highestSkin, stack.indexOf(w.dialog->skinWindow(id)));
        }
        QCOMPARE(stack.indexOf(w.dialog->skinWindow(1073)), 0);  // the background lies lowest
        for (QWidget* control : w.dialog->standardControls()) {
            QVERIFY(stack.indexOf(control) > highestSkin);
        }
    }

    void playThenCancelStartsNothing() {
        Window w;
        w.boxes.willOpen(std::nullopt);
        w.press(1079);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.playCaption(), QStringLiteral("     Play"));
        QCOMPARE(w.boxes.openCount(), 1);
    }

    void playWithAFileSendsTheSongAndStopRestoresTheCaption() {
        Window w;
        w.boxes.willOpen(songFile("play.mid"));
        w.press(1079);
        QVERIFY(w.dialog->sequencer().isPlaying());
        QCOMPARE(w.playCaption(), QStringLiteral("     Stop"));
        w.timers.runNext();
        QVERIFY(anyNoteOn(w.output));
        w.press(1079);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.playCaption(), QStringLiteral("     Play"));
        QCOMPARE(w.timers.pendingCount(), std::size_t{0});
    }

    void typeAndConvertAreRefusedWhilePlaying() {
        Window w;
        w.boxes.willOpen(songFile("busy.mid"));
        w.press(1079);
        w.boxes.clear();
        w.press(1076);
        w.press(1080);
        QCOMPARE(w.boxes.texts(), std::vector<std::string>(2, "Stop playing first!"));
        QCOMPARE(w.typeDialogs, 1);
        QCOMPARE(w.boxes.openCount(), 0);
    }

    void convertAlsoOffersWavAudioWhoseRenderCanBeCancelled() {
        Window w;
        const std::string folder = test::makeTempDir("convert-to-wav");
        const auto head = [](const std::string& path) {
            QFile file(QString::fromStdString(path));
            return file.open(QIODevice::ReadOnly) ? file.read(4).toStdString() : std::string();
        };
        w.boxes.clear();
        w.boxes.willOpen(songFile("to-wav.mid"));
        w.boxes.willSave(folder + "/song.wav");
        w.press(1080);
        QCOMPARE(w.boxes.texts(),
                 std::vector<std::string>{"Information has been written to the file!"});
        const auto filters = w.boxes.saveFilters();
        QCOMPARE(filters.size(), std::size_t{2});
        QCOMPARE(filters[0].pattern, std::string_view("*.mid"));
        QCOMPARE(filters[1].description, std::string_view("WAV audio"));
        QCOMPARE(filters[1].pattern, std::string_view("*.wav"));
        QCOMPARE(head(folder + "/song.wav"), std::string("RIFF"));

        // A MIDI name chosen in the same dialog is converted as ever.
        w.boxes.willOpen(songFile("to-mid.mid"));
        w.boxes.willSave(folder + "/song.mid");
        w.press(1080);
        QCOMPARE(head(folder + "/song.mid"), std::string("MThd"));

        // Cancel on the progress dialog, which shows for a song that takes a while: no file,
        // no box.
        w.boxes.clear();
        QTimer canceller;
        QObject::connect(&canceller, &QTimer::timeout, [&w] {
            if (auto* progress = w.dialog->findChild<QProgressDialog*>()) progress->cancel();
        });
        canceller.start(0);
        test::TrackBuilder tenMinutes;
        tenMinutes.noteOn(0, 0, 60, 100).noteOff(480 * 1200, 0, 60).endOfTrack();
        w.boxes.willOpen(test::writeTempFile("cancelled.mid", test::format0(480, tenMinutes)));
        w.boxes.willSave(folder + "/cancelled.wav");
        w.press(1080);
        canceller.stop();
        QVERIFY(w.boxes.texts().empty());
        QVERIFY(!QFile::exists(QString::fromStdString(folder + "/cancelled.wav")));
        QCOMPARE(QDir(QString::fromStdString(folder)).entryList(QDir::Files | QDir::Hidden).size(),
                 2);
    }

    void bendSaysInTheLastBoxHowManyNotesPlayedOffTheirTuning() {
        Window w;
        w.dialog->deviceType().store(DeviceType::Bend);
        const std::string folder = test::makeTempDir("bend-boxes");
        test::TrackBuilder full;  // every channel in use: E finds none to borrow while C sounds
        for (int c = 0; c < 16; ++c)
            full.programChange(0, c, 0);
        full.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOff(480, 0, 60).noteOff(0, 0, 64);
        const std::string song =
            test::writeTempFile("bend-full.mid", test::format0(480, full.endOfTrack()));
        const std::vector<std::string> box{
            "Information has been written to the file!\n"
            "1 of 2 notes played up to 14 cents from their tuning"};
        for (const char* name : {"/full.wav", "/full.mid"}) {
            w.boxes.clear();
            w.boxes.willOpen(song);
            w.boxes.willSave(folder + name);
            w.press(1080);
            QCOMPARE(w.boxes.texts(), box);
        }
    }

    void typeWhileIdleOpensTheDialogWithTheValueInForce() {
        Window w;
        w.answerType = [](DeviceTypeDialog& d) {
            d.buttonOf(DeviceType::GS)->click();
            d.okButton()->click();
        };
        w.press(1076);
        QCOMPARE(w.typeDialogs, 2);
        QCOMPARE(w.dialog->deviceType().load(), DeviceType::GS);
        bool gsShown = false;
        w.answerType = [&](DeviceTypeDialog& d) {
            gsShown = d.buttonOf(DeviceType::GS)->isChecked();
        };
        w.press(1076);
        QVERIFY(gsShown);
    }

    void powerWhilePlayingStopsFirstThenEnds() {
        Window w;
        w.dialog->show();
        w.boxes.willOpen(songFile("power.mid"));
        w.press(1079);
        w.press(1074);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.timers.pendingCount(), std::size_t{0});
        QTRY_VERIFY(!w.dialog->isVisible());
    }

    void escapeWhilePlayingStopsPlayback() {
        Window w;
        w.dialog->show();
        w.boxes.willOpen(songFile("escape.mid"));
        w.press(1079);
        QTest::keyClick(w.dialog.get(), Qt::Key_Escape);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QVERIFY(!w.dialog->isVisible());
    }

    void droppedMidiFilesPlayWhateverTheCaseOfTheirExtension() {
        for (const char* name : {"a.mid", "b.MID", "c.Mid"}) {
            Window w;
            const std::string path = songFile(name);
            w.drop({QString::fromStdString(path)});
            QVERIFY2(w.dialog->sequencer().isPlaying(), name);
            QCOMPARE(w.playCaption(), QStringLiteral("     Stop"));
        }
    }

    void otherDroppedFilesAreIgnoredSilently() {
        Window w;
        const Bytes bytes = test::format0(480, test::TrackBuilder().noteOn(0, 0, 60, 1));
        w.drop({QString::fromStdString(test::writeTempFile("song.midi", bytes))});
        w.drop({QString::fromStdString(test::writeTempFile("song.kar", bytes))});
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.boxes.texts().size(), std::size_t{1});  // only the start-up GM note
    }

    void onlyTheFirstOfSeveralDroppedFilesCounts() {
        Window w;
        const QString first = QString::fromStdString(songFile("first.kar.mid"));
        const QString second = QString::fromStdString(songFile("second.mid"));
        w.drop({QStringLiteral("/nonexistent/x.kar"), second, first});
        QVERIFY(!w.dialog->sequencer().isPlaying());
        w.drop({first, QStringLiteral("/nonexistent/y.mid")});
        QVERIFY(w.dialog->sequencer().isPlaying());
    }

    void aMidiFileNamedOnTheCommandLinePlaysOnceTheWindowShows() {
        Window w;
        QCOMPARE(w.typeDialogs, 1);  // answered while the window was made
        const QImage playFace = w.playButtonOnScreen();
        const QString song = QString::fromStdString(songFile("argument.mid"));
        openFileArgument({QStringLiteral("pitchloom"), song}, *w.dialog);
        QTest::qWait(100);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        w.showWindow();
        QTRY_VERIFY(w.dialog->sequencer().isPlaying());
        QCOMPARE(w.playCaption(), QStringLiteral("     Stop"));
        QCOMPARE(w.playButtonOnScreen(), w.playFaceRendered());
        QVERIFY(w.playButtonOnScreen() != playFace);
        w.timers.runNext();
        QVERIFY(anyNoteOn(w.output));
        QCOMPARE(w.boxes.openCount(), 0);  // no file dialog was asked
    }

    void aSongNamedOnTheCommandLineWaitsForAStartUpBox() {
        Window w;
        QDialog box;  // a box still waiting for its OK when the window shows
        box.setModal(true);
        box.show();
        openFileArgument({QStringLiteral("pitchloom"), QString::fromStdString(songFile("b.mid"))},
                         *w.dialog);
        w.showWindow();
        QTest::qWait(200);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        box.accept();
        QTRY_VERIFY(w.dialog->sequencer().isPlaying());
    }

    void thePlayButtonShowsStopAtOnceHoweverTheSongStarts() {
        Window w;
        const QImage playFace = w.playButtonOnScreen();
        w.boxes.willOpen(songFile("pressed.mid"));
        w.press(1079);
        QCOMPARE(w.playCaption(), QStringLiteral("     Stop"));
        QCOMPARE(w.playButtonOnScreen(), w.playFaceRendered());
        QVERIFY(w.playButtonOnScreen() != playFace);
        w.press(1079);
        QCOMPARE(w.playButtonOnScreen(), playFace);

        w.drop({QString::fromStdString(songFile("dropped.mid"))});
        QCOMPARE(w.playCaption(), QStringLiteral("     Stop"));
        QCOMPARE(w.playButtonOnScreen(), w.playFaceRendered());
        QVERIFY(w.playButtonOnScreen() != playFace);
    }

    void otherFilesNamedOnTheCommandLineAreIgnoredSilently() {
        Window w;
        const QString text = QString::fromStdString(
            test::writeTempFile("notes.txt", test::format0(480, test::TrackBuilder())));
        openFileArgument({QStringLiteral("pitchloom"), text}, *w.dialog);
        openFileArgument({QStringLiteral("pitchloom"), QStringLiteral("/nonexistent/x.txt")},
                         *w.dialog);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.boxes.texts().size(), std::size_t{1});  // only the start-up GM note
        QCOMPARE(w.boxes.openCount(), 0);
    }

    void withoutAPathTheWindowStartsAsAlways() {
        Window w;
        w.output.clear();
        openFileArgument({QStringLiteral("pitchloom")}, *w.dialog);
        openFileArgument({}, *w.dialog);
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.playCaption(), QStringLiteral("     Play"));
        QCOMPARE(w.boxes.texts().size(), std::size_t{1});
        QCOMPARE(w.boxes.openCount(), 0);
        QCOMPARE(w.output.messageCount(), std::size_t{0});
    }

    void theFileArgumentPassesOverOptionsAndTakesFileUrls() {
        const QString path = QStringLiteral("/music/song.mid");
        QCOMPARE(fileArgument({QStringLiteral("pitchloom")}), QString());
        QCOMPARE(fileArgument({path}), QString());  // the program's own name is no file
        QCOMPARE(fileArgument({QStringLiteral("pitchloom"), QStringLiteral("--verbose"), path}),
                 path);
        QCOMPARE(
            fileArgument({QStringLiteral("pitchloom"), QStringLiteral("file:///music/song.mid")}),
            path);
        QCOMPARE(fileArgument({QStringLiteral("pitchloom"), QStringLiteral("song.mid")}),
                 QStringLiteral("song.mid"));
        QCOMPARE(fileArgument({QStringLiteral("pitchloom"), QStringLiteral("a.txt"), path}),
                 QStringLiteral("a.txt"));  // only the first file counts, as with a drop
    }

    void aMidiFileUrlNamedAfterAnOptionPlays() {
        Window w;
        const QString song = QString::fromStdString(songFile("url argument.mid"));
        openFileArgument({QStringLiteral("pitchloom"), QStringLiteral("--debug"),
                          QUrl::fromLocalFile(song).toString()},
                         *w.dialog);
        w.showWindow();
        QTRY_VERIFY(w.dialog->sequencer().isPlaying());
    }

    void aDropDuringPlaybackStopsItFirst() {
        Window w;
        w.boxes.willOpen(songFile("one.mid"));
        w.press(1079);
        w.timers.runNext();
        w.output.clear();
        w.drop({QStringLiteral("/nonexistent/missing.mid")});
        QVERIFY(!w.dialog->sequencer().isPlaying());
        QCOMPARE(w.playCaption(), QStringLiteral("     Play"));
        QCOMPARE(w.output.messageCount(), std::size_t{16});  // all notes off, nothing more
        QCOMPARE(w.boxes.texts().back(), std::string("Undefined error!"));
    }

    void pianoKeyTogglesTheScaleAndTheLastOneStaysLit() {
        Window w;
        w.output.clear();
        w.press(1082);  // C# out
        QCOMPARE(w.dialog->scaleList()->currentText(), QStringLiteral("Custom"));
        QVERIFY(!w.dialog->keys().isLit(1));
        QCOMPARE(w.dialog->tuning().inScale[1].load(), std::uint8_t{0});
        QCOMPARE(w.output.messageCount(), std::size_t{16});
        QVERIFY(!anyNoteOn(w.output));
        for (int id = 1081; id <= 1092; ++id) {
            if (id != 1082 && id != 1092) w.press(id);
        }
        w.boxes.clear();
        w.press(1092);  // B is the last one in the scale
        QCOMPARE(w.boxes.texts(), std::vector<std::string>{"Can't off all notes!"});
        QVERIFY(w.dialog->keys().isLit(11));
        QCOMPARE(w.dialog->skinWindow(1092)->face().toImage(),
                 w.dialog->keys().surface(11).toImage());
    }

    void sliderKeysRetuneAndTheEndOfTheActionRaisesTheFlag() {
        Window w;
        w.dialog->show();
        QScrollBar* c = w.dialog->slider(0);
        c->setFocus();
        w.dialog->tuning().tuningChanged = 0;
        QTest::keyPress(c, Qt::Key_PageDown);  // page down: 0 -> -10
        QCOMPARE(w.dialog->valueBox(0)->text(), QStringLiteral("-10"));
        QCOMPARE(c->value(), 10);
        QCOMPARE(w.dialog->tuningList()->currentText(), QStringLiteral("CUSTOM"));
        QCOMPARE(w.dialog->tuning().tuningChanged.load(), 0);  // not before the key is let go
        QTest::keyRelease(c, Qt::Key_PageDown);
        QCOMPARE(w.dialog->tuning().tuningChanged.load(), 1);
        QTest::keyClick(c, Qt::Key_Up);  // line up: -9
        QCOMPARE(w.dialog->valueBox(0)->text(), QStringLiteral("-9"));
        QCOMPARE(w.dialog->tuning().offsets[0].load(), -9);
    }

    void aHeldArrowRaisesTheFlagOnceWhenReleased() {
        Window w;
        w.dialog->show();
        QScrollBar* d = w.dialog->slider(2);
        w.dialog->tuning().tuningChanged = 0;
        for (int i = 0; i < 3; ++i)
            d->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(w.dialog->valueBox(2)->text(), QStringLiteral("7"));  // 4 + 3
        QCOMPARE(w.dialog->tuning().tuningChanged.load(), 0);
        QTest::mouseRelease(d, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(w.dialog->tuning().tuningChanged.load(), 1);
    }

    void theWheelStepsLinesEvenAtTheEndOfTheTravel() {
        Window w;
        w.dialog->tuningList()->setCurrentIndex(3);  // the user picks "Arabian": E at -51
        emit w.dialog->tuningList()->activated(3);
        QScrollBar* e = w.dialog->slider(4);
        QCOMPARE(e->value(), 50);
        w.dialog->tuning().tuningChanged = 0;
        QWheelEvent wheel(QPointF(5, 5), e->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(e, &wheel);
        QCOMPARE(w.dialog->valueBox(4)->text(), QStringLiteral("-50"));
        QCOMPARE(w.dialog->tuningList()->currentText(), QStringLiteral("CUSTOM"));
        QCOMPARE(w.dialog->tuning().tuningChanged.load(), 1);
    }

    void aDoubleClickOnAKeyTogglesItOnce() {
        Window w;
        w.output.clear();
        // What a double-click delivers: press, release, double-click, release.
        SkinWindow* key = w.dialog->skinWindow(1082);
        QTest::mouseClick(key, Qt::LeftButton, {}, QPoint(5, 5));
        QMouseEvent second(QEvent::MouseButtonDblClick, QPointF(5, 5),
                           key->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(key, &second);
        QTest::mouseRelease(key, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!w.dialog->keys().isLit(1));
        QCOMPARE(w.output.messageCount(), std::size_t{16});
    }

    void aLoadedScaleShowsOnTheKeysAtOnce() {
        Window w;
        const std::string file = test::makeTempDir("scale") + "/penta.sca";
        w.dialog->scaleList()->setCurrentIndex(1);  // Pentatonic in C
        emit w.dialog->scaleList()->activated(1);
        w.boxes.willSave(file);
        w.press(1077);
        w.dialog->scaleList()->setCurrentIndex(0);  // back to Chromatic
        emit w.dialog->scaleList()->activated(0);
        w.boxes.willOpen(file);
        w.press(1078);
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(w.dialog->skinWindow(1081 + i)->face().toImage(),
                     w.dialog->keys().surface(i).toImage());
        }
        QVERIFY(!w.dialog->keys().isLit(1));
        QVERIFY(w.dialog->keys().isLit(2));
    }

    void aScaleOfNineteenNotesGreysTheSlidersAndKeysAndGsCannotPlayIt() {
        Window w;
        w.dialog->deviceType().store(DeviceType::GS);
        w.boxes.clear();
        w.boxes.willOpen(test::testData("scala/19edo.scl"));
        w.press(1078);
        QVERIFY(w.boxes.texts().empty());
        QCOMPARE(w.dialog->tuningList()->currentText(),
                 QStringLiteral("19 equal divisions of the octave (19 notes)"));
        QCOMPARE(w.dialog->tuningList()->toolTip(), w.dialog->tuningList()->currentText());
        const QString why = QStringLiteral(
            "This scale has 19 notes: its keys are tuned one by one, not by these sliders.");
        for (int i = 0; i < 12; ++i) {
            QVERIFY(!w.dialog->slider(i)->isEnabled());
            QCOMPARE(w.dialog->slider(i)->toolTip(), why);
            QVERIFY(!w.dialog->skinWindow(1081 + i)->isEnabled());
        }
        w.press(1082);  // a greyed key does not toggle
        QVERIFY(w.dialog->keys().isLit(1));
        QCOMPARE(w.dialog->scaleList()->currentText(), QStringLiteral("Custom"));

        const std::vector<std::string> refused{
            "This scale has 19 notes: choose MTS keys or Bend to play it."};
        w.boxes.clear();
        w.press(1079);
        w.drop({QString::fromStdString(songFile("refused.mid"))});
        QCOMPARE(w.boxes.texts(), std::vector<std::string>(2, refused[0]));
        QCOMPARE(w.boxes.openCount(), 0);  // refused before a song was asked for
        QVERIFY(!w.dialog->sequencer().isPlaying());

        // Convert, and with it the built-in render, is refused before a song is asked for.
        w.dialog->deviceType().store(DeviceType::GM);
        w.boxes.clear();
        w.press(1080);
        QCOMPARE(w.boxes.texts(), refused);
        QCOMPARE(w.boxes.openCount(), 0);
        QCOMPARE(w.boxes.saveCount(), 0);

        // A built-in tuning brings the twelve back, and with them Play.
        w.dialog->tuningList()->setCurrentIndex(1);
        emit w.dialog->tuningList()->activated(1);
        QCOMPARE(w.dialog->tuningList()->itemText(8), QStringLiteral("CUSTOM"));
        QVERIFY(w.dialog->slider(0)->isEnabled());
        QVERIFY(w.dialog->skinWindow(1081)->isEnabled());
        QCOMPARE(w.dialog->slider(0)->toolTip(), QString());
        w.boxes.clear();
        w.boxes.willOpen(songFile("plays.mid"));
        w.press(1079);
        QVERIFY(w.dialog->sequencer().isPlaying());
        QVERIFY(w.boxes.texts().empty());
    }

    void listChoicesRunTheirHandlersOnlyForTheUser() {
        Window w;
        QComboBox* tuning = w.dialog->tuningList();
        tuning->setCurrentIndex(3);  // set by the program: nothing runs
        QCOMPARE(w.dialog->valueBox(4)->text(), QStringLiteral("-14"));
        emit tuning->activated(3);  // the user's choice of "Arabian"
        QCOMPARE(w.dialog->valueBox(4)->text(), QStringLiteral("-51"));
        QCOMPARE(w.dialog->slider(4)->value(), 50);
    }

    void choosingTheDeviceInUseAgainLeavesItAlone() {
        Window w;
        const auto opened = w.output.opened();
        emit w.dialog->deviceList()->activated(0);
        QCOMPARE(w.output.opened(), opened);
        QCOMPARE(w.output.closedCount(), 0);
    }

    void theWheelActsOnAListOnlyOnceTheListHasFocus() {
        Window w;
        w.showWindow();
        w.dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.dialog.get()));
        auto wheel = [](QWidget* list) {
            QWheelEvent notch(QPointF(5, 5), list->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(list, &notch);
        };
        const auto opened = w.output.opened();
        wheel(w.dialog->deviceList());
        wheel(w.dialog->keyList());
        QCOMPARE(w.dialog->deviceList()->currentIndex(), 0);
        QCOMPARE(w.dialog->keyList()->currentText(), QStringLiteral("C"));
        QCOMPARE(w.output.opened(), opened);

        w.dialog->keyList()->setFocus(Qt::TabFocusReason);
        QVERIFY(w.dialog->keyList()->hasFocus());
        wheel(w.dialog->keyList());
        QCOMPARE(w.dialog->keyList()->currentText(), QStringLiteral("G"));
        QCOMPARE(w.dialog->valueBox(0)->text(), QStringLiteral("-2"));  // the key change ran
    }

    void fittedToSongShowsTheOffsetsOfTheSongDroppedAndAdaptiveGreysTheSliders() {
        Window w;
        w.dialog->deviceType().store(DeviceType::GS);
        const QString triad =
            QString::fromStdString(test::writeTempFile("triad.mid", test::cMajorTriadSong()));
        w.dialog->tuningList()->setCurrentIndex(kFittedTuningRow);
        emit w.dialog->tuningList()->activated(kFittedTuningRow);
        QCOMPARE(w.dialog->valueBox(4)->text(), QStringLiteral("0"));  // no song yet
        w.boxes.clear();
        w.drop({triad});
        QVERIFY(w.dialog->sequencer().isPlaying());
        // Its just third and fifth, shown as it starts to play.
        QCOMPARE(w.dialog->valueBox(4)->text(), QStringLiteral("-14"));
        QCOMPARE(w.dialog->valueBox(7)->text(), QStringLiteral("2"));
        QVERIFY(w.dialog->slider(4)->isEnabled());
        w.dialog->sequencer().stopPlayback();

        w.dialog->tuningList()->setCurrentIndex(kAdaptiveTuningRow);
        emit w.dialog->tuningList()->activated(kAdaptiveTuningRow);
        QCOMPARE(w.dialog->tuningList()->currentText(), QStringLiteral("Adaptive just"));
        QCOMPARE(w.dialog->valueBox(4)->text(), QStringLiteral("0"));
        for (int i = 0; i < 12; ++i)
            QVERIFY(!w.dialog->slider(i)->isEnabled());
        QVERIFY(w.dialog->slider(0)->toolTip().startsWith(
            QStringLiteral("Adaptive just tunes every note as it starts")));
        w.boxes.clear();
        w.drop({triad});
        QCOMPARE(w.boxes.texts(),
                 std::vector<std::string>{"Adaptive just gives every note a pitch of its own: "
                                          "choose MTS keys or Bend to play it."});
        QVERIFY(!w.dialog->sequencer().isPlaying());
        w.dialog->deviceType().store(DeviceType::Bend);
        w.drop({triad});
        QVERIFY(w.dialog->sequencer().isPlaying());
        w.dialog->sequencer().stopPlayback();
    }

    void theTypeDialogOffersTheInputsAndAKeyboardPlaysToTheDevice() {
        Window w;
        w.answerType = [&](DeviceTypeDialog& d) {
            QComboBox& list = *d.inputList();
            QCOMPARE(entries(list), (QStringList{"None", "Pitchloom Pro in", "Keys"}));
            QCOMPARE(list.currentText(), QStringLiteral("None"));
            choose(list, QStringLiteral("Keys"));
            w.output.clear();
            w.inputs.play({0x90, 60, 100});
            const auto sent = w.output.messages();
            QCOMPARE(sent.size(), std::size_t{1});
            QCOMPARE(sent[0].device, kMidiMapperId);
            QCOMPARE(sent[0].bytes, (Bytes{0x90, 60, 100}));
            // Plugged in meanwhile: offered as the list opens, the choice kept though Keys moved.
            w.inputs.plugIn("Pads");
            list.showPopup();
            list.hidePopup();
            QCOMPARE(entries(list), (QStringList{"None", "Pitchloom Pro in", "Pads", "Keys"}));
            QCOMPARE(list.currentText(), QStringLiteral("Keys"));
            d.okButton()->click();
        };
        w.press(1076);
        QCOMPARE(w.dialog->inputRelay().currentInput(), 0);
        QCOMPARE(w.inputs.openDevices.load(), 1);
        w.answerType = [&](DeviceTypeDialog& d) {
            QCOMPARE(d.inputList()->currentText(), QStringLiteral("Keys"));  // kept for the session
            w.boxes.clear();
            choose(*d.inputList(), QStringLiteral("Pitchloom Pro in"));
            QCOMPARE(w.boxes.texts(), std::vector<std::string>{
                                          "The MIDI input \"Pitchloom Pro in\" cannot be opened."});
            QCOMPARE(d.inputList()->currentText(), QStringLiteral("None"));
            choose(*d.inputList(), QStringLiteral("Keys"));
        };
        w.press(1076);
        QCOMPARE(w.inputs.openDevices.load(), 1);
        w.dialog.reset();  // the window closes the input with it
        QCOMPARE(w.inputs.openDevices.load(), 0);
    }

    void anUnpluggedKeyboardPutsTheInputBackToNone() {
        Window w;
        w.dialog->inputRelay().setWatchPeriod(std::chrono::milliseconds(5));
        w.answerType = [&](DeviceTypeDialog& d) {
            choose(*d.inputList(), QStringLiteral("Keys"));
            w.boxes.clear();
            w.inputs.plugged = false;
            QTRY_COMPARE(d.inputList()->currentText(), QStringLiteral("None"));
            QCOMPARE(w.boxes.texts(),
                     std::vector<std::string>{"The MIDI input \"Keys\" is gone. The notes it left "
                                              "sounding were ended; choose it again when it is "
                                              "back."});
            QCOMPARE(w.inputs.openDevices.load(), 0);
        };
        w.press(1076);
        QCOMPARE(w.dialog->inputRelay().currentInput(), kNoInputId);
    }

    void deviceChoiceReopensThePort() {
        Window w;
        w.dialog->deviceList()->setCurrentIndex(1);
        emit w.dialog->deviceList()->activated(1);
        QCOMPARE(w.dialog->port().currentIdentifier(), 0);
        w.dialog->port().noteOn(60, 1, 0);
        QCOMPARE(w.output.messages().back().device, 0);
    }
};

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
