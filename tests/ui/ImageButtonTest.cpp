#include "ImageButton.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include <memory>

using namespace morrow;

namespace {

const QColor magenta(255, 0, 255);
const QColor blue(0, 0, 200);

// A 10 by 8 picture: a magenta frame two pixels wide round a blue core.
QString writePicture(const test::TempDir& dir) {
    QImage image(10, 8, QImage::Format_RGB32);
    image.fill(magenta);
    for (int y = 2; y < 6; ++y) {
        for (int x = 2; x < 8; ++x) {
            image.setPixelColor(x, y, blue);
        }
    }
    const QString path = QString::fromStdString(dir / "picture.png");
    image.save(path);
    return path;
}

} // namespace

class ImageButtonTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> temp;
    QWidget* window = nullptr;
    ImageButton* button = nullptr;
    ImageButton* other = nullptr;
    QString picture;

    QColor face() const { return button->palette().color(QPalette::Button); }

  private slots:
    void init() {
        temp = std::make_unique<test::TempDir>();
        picture = writePicture(*temp);
        window = new QWidget;
        window->resize(300, 100);
        button = new ImageButton("&Start", window);
        button->setGeometry(10, 10, 100, 31);
        other = new ImageButton("&Quit", window);
        other->setGeometry(10, 50, 100, 31);
        window->show();
    }

    void cleanup() {
        delete window;
        temp.reset();
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void layout_data() {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QRect>("image");
        QTest::addColumn<QRect>("text");
        QTest::addColumn<QRect>("focus");
        // W 100, H 31, picture 10 by 8.
        QTest::newRow("right_vcentred_dialog_buttons")
            << 7 << QRect(84, 11, 10, 8) << QRect(6, 6, 72, 19) << QRect(4, 4, 76, 23);
        QTest::newRow("left_vcentred_default")
            << 0x25 << QRect(6, 11, 10, 8) << QRect(22, 6, 72, 19) << QRect(20, 4, 76, 23);
        QTest::newRow("bottom_text_above")
            << 0x09 << QRect(6, 17, 10, 8) << QRect(6, 6, 88, 5) << QRect(4, 4, 92, 9);
        QTest::newRow("top_centred_text_below")
            << 0x11 << QRect(45, 6, 10, 8) << QRect(6, 20, 88, 5) << QRect(4, 18, 92, 9);
        QTest::newRow("picture_only") << 0x06 << QRect(84, 11, 10, 8) << QRect() << QRect();
    }

    void layout() {
        QFETCH(int, flags);
        QFETCH(QRect, image);
        QFETCH(QRect, text);
        QFETCH(QRect, focus);
        button->setLayoutFlags(flags);
        QVERIFY(button->setBitmaps(picture, picture, magenta));
        QCOMPARE(button->imageRect(), image);
        QCOMPARE(button->textRect(), text);
        QCOMPARE(button->focusRect(), focus);
    }

    void resizingKeepsThePictureAtTheRightEdge() {
        button->setLayoutFlags(7);
        QVERIFY(button->setBitmaps(picture, picture, magenta));
        button->resize(140, 51);
        QCOMPARE(button->imageRect(), QRect(124, 21, 10, 8));
        QCOMPARE(button->textRect(), QRect(6, 6, 112, 39));
    }

    void missingPictureLeavesAPlainFace() {
        QVERIFY(!button->setBitmaps(QString::fromStdString(*temp / "none.png"), picture, magenta));
        QVERIFY(!button->imagesReady());
        QVERIFY(button->imageRect().isNull());
        QVERIFY(button->textRect().isNull());
        button->grab(); // paints without a picture or caption
    }

    void maskShowsTheFaceAndPressedShifts() {
        button->setLayoutFlags(7);
        QVERIFY(button->setBitmaps(picture, picture, magenta));
        const QRect r = button->imageRect();
        QImage up = button->grab().toImage();
        QCOMPARE(up.pixelColor(r.topLeft() + QPoint(2, 2)), blue);
        QCOMPARE(up.pixelColor(r.topLeft()), face()); // magenta is transparent
        for (int y = 0; y < up.height(); ++y) {
            for (int x = 0; x < up.width(); ++x) {
                QVERIFY(up.pixelColor(x, y) != magenta);
            }
        }
        button->setDown(true);
        QImage down = button->grab().toImage();
        QCOMPARE(down.pixelColor(r.topLeft() + QPoint(2, 2)), face()); // moved one pixel right and down
        QCOMPARE(down.pixelColor(r.topLeft() + QPoint(3, 3)), blue);
        QCOMPARE(down.pixelColor(0, 15), QColor(Qt::black)); // flat face with a black border
        QVERIFY(up.pixelColor(0, 15) != QColor(Qt::black));
    }

    void focusRectangleOnlyOnTheFocusedButton() {
        for (ImageButton* b : {button, other}) {
            b->setLayoutFlags(7);
            QVERIFY(b->setBitmaps(picture, picture, magenta));
        }
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        button->setFocus();
        QVERIFY(button->hasFocus());
        const QImage focused = button->grab().toImage();
        const QImage unfocused = other->grab().toImage();
        // The focus rectangle is 4 in from the edges; the caption never reaches it.
        QVERIFY(focused.pixelColor(4, 15) != face() || focused.pixelColor(4, 16) != face());
        QCOMPARE(unfocused.pixelColor(4, 15), face());
        QCOMPARE(unfocused.pixelColor(4, 16), face());
        QCOMPARE(focused.pixelColor(0, 15), QColor(Qt::black));
    }

    void disabledLookIsEngravedWithImageOne() {
        QImage grey(10, 8, QImage::Format_RGB32);
        grey.fill(QColor(128, 128, 128));
        const QString greyPath = QString::fromStdString(*temp / "grey.png");
        grey.save(greyPath);
        button->setLayoutFlags(7);
        QVERIFY(button->setBitmaps(picture, greyPath, magenta));
        button->setEnabled(false);
        const QImage off = button->grab().toImage();
        QCOMPARE(off.pixelColor(button->imageRect().topLeft() + QPoint(2, 2)), QColor(128, 128, 128));
        // The caption is drawn in the disabled text colour, over a lighter copy.
        const QColor greyText = button->palette().color(QPalette::Disabled, QPalette::WindowText);
        bool sawGrey = false;
        const QRect t = button->textRect();
        for (int y = t.top(); y <= t.bottom(); ++y) {
            for (int x = t.left(); x <= t.right(); ++x) {
                sawGrey = sawGrey || off.pixelColor(x, y) == greyText;
            }
        }
        QVERIFY(sawGrey);
    }
};

QTEST_MAIN(ImageButtonTest)
#include "ImageButtonTest.moc"
