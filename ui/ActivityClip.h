#pragma once

#include <QtCore/QTimer>
#include <QtGui/QPixmap>
#include <QtWidgets/QWidget>

#include <vector>

namespace morrow {

// The activity animation: a short loop of frames played while a header scan runs.
class ActivityClip : public QWidget {
    Q_OBJECT
  public:
    explicit ActivityClip(QWidget* parent);
    void play();  // from the first frame, for ever
    void stop();  // stays on the current frame
    void close(); // stops and leaves the control blank
    bool isPlaying() const { return timer_.isActive(); }
    bool isOpen() const { return open_; }
    int frame() const { return frame_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<QPixmap> frames_;
    QTimer timer_;
    int frame_ = 0;
    bool open_ = false;
};

} // namespace morrow
