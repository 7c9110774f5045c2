#pragma once

#include <QtWidgets/QWidget>

class QTextBrowser;

namespace morrow {

// The user guide's window: the guide's HTML in a browser that follows its links, one window for
// the dialog's whole life, shown again at every press of Help.
class HelpWindow : public QWidget {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* owner);

    // Shows `html`, whose pictures and pages are looked for in `folder`, at its contents.
    void showGuide(const QString& html, const QString& folder);

  private:
    QTextBrowser* browser_;
};

} // namespace morrow
