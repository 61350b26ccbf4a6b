#include "app/help_window.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace pitchloom {

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("Pitchloom Pro Help"));
    setModal(false);
    resize(640, 560);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setSearchPaths({QStringLiteral(":/help")});
    browser_->setOpenExternalLinks(false);
}

void HelpWindow::showIndex() {
    browser_->setSource(QUrl(QStringLiteral("qrc:/help/index.htm")));
    show();
    raise();
    activateWindow();
}

}  // namespace pitchloom
