// The reference for bench/first-window: the least a Qt 6 Widgets program does to show a window.

#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    dialog.resize(320, 120);
    dialog.show();
    return QApplication::exec();
}
