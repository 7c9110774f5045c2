#pragma once

#include <QtGui/QColor>
#include <QtGui/QPixmap>
#include <QtWidgets/QPushButton>

namespace morrow {

// The picture to load for `path` on this screen: its "@2x" twin (buttons/start@2x.png beside
// buttons/start.png) when a screen has more than one device pixel to the unit and the twin
// exists, else `path` itself. Qt gives a picture loaded from an @2x name a device pixel ratio of 2,
// so it is drawn at its plain size, pixel for pixel.
QString pictureForScreen(const QString& path);

// A push button that paints itself: a picture with a transparent mask colour, a caption beside it,
// and its own pressed, focused and disabled looks, so every button of the dialog looks the same
// whatever the desktop's style.
class ImageButton : public QPushButton {
    Q_OBJECT
  public:
    // Layout flags: where the picture, the caption and the focus rectangle go.
    enum LayoutFlag {
        WithText = 0x01,     // compute textRect and focusRect; else only imageRect
        ImageRight = 0x02,   // picture at the right edge instead of the left
        ImageVCenter = 0x04, // picture centred vertically, caption beside it
        ImageBottom = 0x08,  // picture at the bottom (without ImageVCenter), caption above
        ImageHCenter = 0x10, // picture centred horizontally
        OwnFocusRect = 0x20, // focus rectangle at focusRect instead of the face shrunk by 4
    };

    explicit ImageButton(QWidget* parent = nullptr);
    ImageButton(const QString& text, QWidget* parent = nullptr);

    bool setLayoutFlags(int flags);
    int layoutFlags() const { return layoutFlags_; }

    // Loads the pictures (Qt resource or file paths) and keeps `maskColor` transparent in both.
    // False when the normal picture cannot be loaded: the button then shows neither picture nor
    // caption. A missing disabled picture leaves the disabled button without one.
    bool setBitmaps(const QString& normal, const QString& disabled, const QColor& maskColor);
    bool imagesReady() const { return imagesReady_; }

    // Client pixels (device-independent); right and bottom as QRect gives them (inclusive).
    QRect imageRect() const { return imageRect_; }
    QRect textRect() const { return textRect_; }
    QRect focusRect() const { return focusRect_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void computeLayout();

    QPixmap normal_;
    QPixmap disabled_;
    QColor maskColor_;
    bool imagesReady_ = false;
    int layoutFlags_ = WithText | ImageVCenter | OwnFocusRect;
    QRect imageRect_;
    QRect textRect_;
    QRect focusRect_;
    QColor textColor_;
};

} // namespace morrow
