#pragma once

#include <QString>
#include <QStringList>

namespace pitchloom {

class MainDialog;

/// The application: sets the colours of every window, runs the main window until it ends and
/// hands it a file named on the command line.
class MainApp {
public:
    /// Runs the program; returns the process exit status.
    int InitInstance(const QStringList& arguments);
};

/// The file named on the command line, or an empty string: the first argument after the
/// program's name that is not an option. QApplication has already taken out Qt's own options
/// (-style, -platform, ...); other options are passed over. A file URL is turned into its path.
QString fileArgument(const QStringList& arguments);

/// Hands the file named on the command line, if there is one, to the window's drop handling
/// for when the window shows.
void openFileArgument(const QStringList& arguments, MainDialog& dialog);

/// The colours of the program's windows: grey RGB(159,159,159), text RGB(31,63,31).
void applyPitchloomPalette();

}  // namespace pitchloom
