#pragma once

#include <QStringList>

namespace pitchloom {

/// The application: sets the colours of every window, runs the main window until it ends and
/// hands it a file named on the command line.
class MainApp {
public:
    /// Runs the program; returns the process exit status.
    int InitInstance(const QStringList& arguments);
};

/// The colours of the program's windows: grey RGB(159,159,159), text RGB(31,63,31).
void applyPitchloomPalette();

}  // namespace pitchloom
