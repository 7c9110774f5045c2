#include "HelpWindow.h"

#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QVBoxLayout>

namespace morrow {

HelpWindow::HelpWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName("helpWindow");
    setWindowTitle("Morrow Help");
    resize(560, 520);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName("helpBrowser");
    browser_->setOpenExternalLinks(true);
    layout->addWidget(browser_);
}

void HelpWindow::showGuide(const QString& html, const QString& folder) {
    browser_->setSearchPaths({folder});
    browser_->setHtml(html);
    browser_->scrollToAnchor("contents");
    show();
    raise();
}

} // namespace morrow
