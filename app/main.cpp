#include <QApplication>

#include "app/main_app.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pitchloom Pro"));
    QApplication::setDesktopFileName(QStringLiteral("pitchloom"));
    return pitchloom::MainApp().InitInstance(QApplication::arguments());
}
