#include "app/main_app.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QUrl>

#include "app/main_dialog.h"
#include "app/qt_dialogs.h"
#include "playback/inputs/system_midi_input.h"
#include "playback/outputs/synth_output.h"
#include "playback/outputs/system_midi_output.h"
#include "playback/playing/timer_service.h"

namespace pitchloom {

void applyPitchloomPalette() {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
    }
    QPalette palette = QApplication::style()->standardPalette();
    palette.setColor(QPalette::Window, QColor(159, 159, 159));
    palette.setColor(QPalette::WindowText, QColor(31, 63, 31));
    palette.setColor(QPalette::ButtonText, QColor(31, 63, 31));
    palette.setColor(QPalette::Button, QColor(176, 176, 176));
    QApplication::setPalette(palette);
}

QString fileArgument(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) continue;
        if (argument.startsWith(QLatin1String("file:"))) return QUrl(argument).toLocalFile();
        return argument;
    }
    return {};
}

void openFileArgument(const QStringList& arguments, MainDialog& dialog) {
    const QString path = fileArgument(arguments);
    if (!path.isEmpty()) dialog.openWhenShown(path);
}

int MainApp::InitInstance(const QStringList& arguments) {
    applyPitchloomPalette();

    QtUserDialogs dialogs;
    ThreadTimerService timers;
    // "MIDI MAPPER" is the built-in synthesizer, so a song sounds with nothing else running.
    SystemMidiOutput output([] { return openBuiltInSynth(); });
    SystemMidiInput input;
    MainDialog dialog({dialogs,
                       output,
                       input,
                       timers,
                       {},
                       [&] {
                           dialogs.cancelPending();
                           timers.shutdown();
                       },
                       std::chrono::milliseconds(1000),
                       std::nullopt});
    dialogs.setParentWindow(&dialog);

    // A file named on the command line is handled like a file dropped on the window, once the
    // window shows.
    openFileArgument(arguments, dialog);
    dialog.exec();
    return 0;
}

}  // namespace pitchloom
