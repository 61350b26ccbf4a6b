#pragma once

#include <QDialog>

class QTextBrowser;

namespace pitchloom {

/// Shows the help pages bundled with the program, starting at index.htm.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);
    QTextBrowser* browser() const { return browser_; }
    /// Shows the start page and brings the window to the front.
    void showIndex();

private:
    QTextBrowser* browser_;
};

}  // namespace pitchloom
