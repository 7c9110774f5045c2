#pragma once

#include <QtWidgets/QWidget>

class QLineEdit;
class QToolButton;

namespace morrow {

// The up and down arrows beside the size box: each step sets the box's number one up or down,
// kept within the range.
class SpinArrows : public QWidget {
    Q_OBJECT
  public:
    SpinArrows(QLineEdit* buddy, int minimum, int maximum, QWidget* parent);
    void stepBy(int steps);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QLineEdit* buddy_;
    int minimum_;
    int maximum_;
    QToolButton* up_;
    QToolButton* down_;
};

} // namespace morrow
