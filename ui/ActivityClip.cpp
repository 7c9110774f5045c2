#include "ActivityClip.h"

#include "ImageButton.h"

#include <QtGui/QPainter>

namespace morrow {

ActivityClip::ActivityClip(QWidget* parent) : QWidget(parent) {
    const QPixmap strip(pictureForScreen(":/morrow/activity.png"));
    // Frames are 48 units wide; an @2x strip holds them at twice as many pixels.
    const qreal ratio = strip.devicePixelRatio();
    const int w = qRound(48 * ratio);
    for (int x = 0; x + w <= strip.width(); x += w) {
        QPixmap frame = strip.copy(x, 0, w, strip.height());
        frame.setDevicePixelRatio(ratio);
        frames_.push_back(frame);
    }
    timer_.setInterval(1000 / 7);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!frames_.empty()) {
            frame_ = (frame_ + 1) % static_cast<int>(frames_.size());
        }
        update();
    });
}

void ActivityClip::play() {
    open_ = true;
    frame_ = 0;
    timer_.start();
    update();
}

void ActivityClip::stop() {
    timer_.stop();
}

void ActivityClip::close() {
    timer_.stop();
    open_ = false;
    frame_ = 0;
    update();
}

void ActivityClip::paintEvent(QPaintEvent*) {
    if (!open_ || frames_.empty()) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap& f = frames_[static_cast<std::size_t>(frame_)];
    // Centred, and shrunk when the control is smaller than a frame.
    QSize size = f.deviceIndependentSize().toSize();
    if (size.width() > width() || size.height() > height()) {
        size.scale(this->size(), Qt::KeepAspectRatio);
    }
    p.drawPixmap(QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size), f);
}

} // namespace morrow
