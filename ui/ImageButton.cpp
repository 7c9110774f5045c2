#include "ImageButton.h"

#include <QtCore/QFileInfo>
#include <QtGui/QBitmap>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPaintEvent>
#include <QtGui/QPainter>

namespace morrow {

namespace {

// A picture with every pixel of `maskColor` made transparent; null when it cannot be loaded.
QPixmap maskedPicture(const QString& path, const QColor& maskColor) {
    QImage image(pictureForScreen(path));
    if (image.isNull()) {
        return {};
    }
    QPixmap pixmap = QPixmap::fromImage(image.convertToFormat(QImage::Format_RGB32));
    pixmap.setMask(pixmap.createMaskFromColor(maskColor, Qt::MaskInColor));
    return pixmap;
}

// Win32-style rectangles (right and bottom exclusive) to QRect.
QRect edges(int left, int top, int right, int bottom) {
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

} // namespace

QString pictureForScreen(const QString& path) {
    if (qGuiApp == nullptr || qGuiApp->devicePixelRatio() <= 1.0) {
        return path;
    }
    const QFileInfo info(path);
    const QString twin = info.path() + '/' + info.completeBaseName() + "@2x." + info.suffix();
    return QFileInfo::exists(twin) ? twin : path;
}

ImageButton::ImageButton(QWidget* parent) : ImageButton(QString(), parent) {}

ImageButton::ImageButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    textColor_ = palette().color(QPalette::Active, QPalette::WindowText);
}

bool ImageButton::setLayoutFlags(int flags) {
    layoutFlags_ = flags;
    return true;
}

bool ImageButton::setBitmaps(const QString& normal, const QString& disabled, const QColor& maskColor) {
    normal_ = QPixmap();
    disabled_ = QPixmap();
    imagesReady_ = false;
    imageRect_ = textRect_ = focusRect_ = QRect();

    normal_ = maskedPicture(normal, maskColor);
    if (normal_.isNull()) {
        update();
        return false;
    }
    disabled_ = maskedPicture(disabled, maskColor);
    maskColor_ = maskColor;
    imagesReady_ = true;
    computeLayout();
    update();
    return true;
}

void ImageButton::computeLayout() {
    imageRect_ = textRect_ = focusRect_ = QRect();
    if (!imagesReady_) {
        return;
    }
    const int W = width();
    const int H = height();
    // In units, not device pixels: an @2x picture takes the room of its plain twin.
    const QSize pictureSize = normal_.deviceIndependentSize().toSize();
    const int w = pictureSize.width();
    const int h = pictureSize.height();

    int left = 6, top = 6, right = w + 6, bottom = h + 6;
    if (layoutFlags_ & ImageRight) {
        left = W - w - 6;
        right = left + w;
    }
    if (layoutFlags_ & ImageVCenter) {
        int t = H - h;
        if (t > 0) {
            t = std::max(t / 2, 4);
        }
        top = t;
        bottom = t + h;
    } else if (layoutFlags_ & ImageBottom) {
        top = std::max(H - h - 6, 6);
        bottom = top + h;
    }
    if (layoutFlags_ & ImageHCenter) {
        int t = W - w;
        if (t > 0) {
            t = std::max(t / 2, 4);
        }
        left = t;
        right = t + w;
    }
    imageRect_ = edges(left, top, right, bottom);
    if (!(layoutFlags_ & WithText)) {
        return;
    }

    int textTop, textBottom, focusTop, focusBottom;
    if (layoutFlags_ & ImageVCenter) {
        textTop = 6, textBottom = H - 6, focusTop = 4, focusBottom = H - 4;
    } else if (layoutFlags_ & ImageBottom) {
        textTop = 6, textBottom = top - 6, focusTop = 4, focusBottom = top - 4;
    } else {
        textTop = bottom + 6, textBottom = H - 6, focusTop = bottom + 4, focusBottom = H - 4;
    }
    int textLeft, textRight, focusLeft, focusRight;
    if ((layoutFlags_ & ImageVCenter) && (layoutFlags_ & ImageRight)) {
        textLeft = 6, textRight = left - 6, focusLeft = 4, focusRight = left - 4;
    } else if (layoutFlags_ & ImageVCenter) {
        textLeft = right + 6, textRight = W - 6, focusLeft = right + 4, focusRight = W - 4;
    } else {
        textLeft = 6, textRight = W - 6, focusLeft = 4, focusRight = W - 4;
    }
    textRect_ = edges(textLeft, textTop, textRight, textBottom);
    focusRect_ = edges(focusLeft, focusTop, focusRight, focusBottom);
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const bool pressed = isDown();
    const bool focused = hasFocus();
    const bool disabled = !isEnabled();

    const QRect a = rect();
    QRect b = a;
    p.fillRect(a, pal.color(QPalette::Button));
    if (focused) {
        b.adjust(1, 1, -1, -1);
    }
    const QRect c = b.adjusted(3, 3, -3, -3);

    if (!pressed) {
        // A raised frame: light top and left, dark bottom and right, two pixels deep.
        const QRect r = b.adjusted(0, 0, -1, -1);
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(pal.color(QPalette::Shadow));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        p.setPen(pal.color(QPalette::Midlight));
        p.drawLine(r.topLeft() + QPoint(1, 1), r.topRight() + QPoint(-1, 1));
        p.drawLine(r.topLeft() + QPoint(1, 1), r.bottomLeft() + QPoint(1, -1));
        p.setPen(pal.color(QPalette::Dark));
        p.drawLine(r.bottomLeft() + QPoint(1, -1), r.bottomRight() + QPoint(-1, -1));
        p.drawLine(r.topRight() + QPoint(-1, 1), r.bottomRight() + QPoint(-1, -1));
    }
    if (!disabled) {
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        if (focused) {
            p.drawRect(a.adjusted(0, 0, -1, -1));
        }
        if (pressed) {
            p.drawRect(b.adjusted(0, 0, -1, -1));
        }
    }
    if (focused) {
        QPen dotted(pal.color(QPalette::WindowText), 1, Qt::DotLine);
        p.setPen(dotted);
        p.setBrush(Qt::NoBrush);
        const QRect f = (layoutFlags_ & OwnFocusRect) ? focusRect_ : c;
        if (f.isValid()) {
            p.drawRect(f.adjusted(0, 0, -1, -1));
        }
    }

    const QPoint shift = pressed ? QPoint(1, 1) : QPoint(0, 0);
    if (imagesReady_) {
        const QPixmap& picture = disabled ? disabled_ : normal_;
        if (!picture.isNull()) {
            p.drawPixmap(imageRect_.topLeft() + shift, picture);
        }
    }
    if (textRect_.isValid()) {
        const int align = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
        p.setFont(font());
        if (disabled) {
            // Engraved: a light copy one pixel down and right, the grey text over it.
            p.setPen(pal.color(QPalette::Base));
            p.drawText(textRect_.translated(shift + QPoint(1, 1)), align, text());
            p.setPen(pal.color(QPalette::Disabled, QPalette::WindowText));
        } else {
            p.setPen(textColor_);
        }
        p.drawText(textRect_.translated(shift), align, text());
    }
}

void ImageButton::resizeEvent(QResizeEvent* event) {
    QPushButton::resizeEvent(event);
    computeLayout();
    update();
}

void ImageButton::focusInEvent(QFocusEvent* event) {
    QPushButton::focusInEvent(event);
    update();
}

void ImageButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        update();
    }
}

} // namespace morrow
