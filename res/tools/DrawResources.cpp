// Draws Morrow's pictures: the button pictures, the banner, the application icon and the frames
// of the activity animation, each also at twice the size ("@2x") for screens with a device pixel
// ratio of 2, and the icon at the sizes desktops ask for (icons/NxN/morrow.png). Everything is
// painted here from shapes and text, so the committed PNGs can be made again at any time:
//
//   cmake --build build --target morrow_draw_resources
//   QT_QPA_PLATFORM=offscreen build/bin/morrow_draw_resources res
//
// Button pictures keep magenta (255, 0, 255) where the button face must show through.
#include <QtCore/QDir>
#include <QtCore/QtMath>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRadialGradient>

#include <cstdio>
#include <functional>

namespace {

const QColor mask(255, 0, 255);

bool save(const QImage& image, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    return true;
}

// A button picture: drawn antialiased over magenta, then every pixel that is not clearly part of
// the drawing is snapped back to pure magenta so that the mask leaves no pink fringe.
// The picture is drawn in its own units and `scale` pixels to the unit.
QImage buttonPicture(int w, int h, int scale, const std::function<void(QPainter&)>& draw) {
    w *= scale;
    h *= scale;
    QImage art(w, h, QImage::Format_ARGB32);
    art.fill(Qt::transparent);
    {
        QPainter p(&art);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        draw(p);
    }
    QImage out(w, h, QImage::Format_RGB32);
    out.fill(mask);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            QColor c = art.pixelColor(x, y);
            if (c.alpha() >= 128) {
                c.setAlpha(255);
                out.setPixelColor(x, y, c);
            }
        }
    }
    return out;
}

void roundBadge(QPainter& p, QRectF r, QColor top, QColor bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(bottom.darker(140), 1.2));
    p.setBrush(g);
    p.drawEllipse(r);
}

QImage startPicture(int scale) {
    return buttonPicture(25, 24, scale, [](QPainter& p) {
        roundBadge(p, QRectF(1, 1, 22, 22), QColor(120, 210, 110), QColor(30, 120, 40));
        QPainterPath tri;
        tri.moveTo(9, 6.5);
        tri.lineTo(18, 12);
        tri.lineTo(9, 17.5);
        tri.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPath(tri);
    });
}

QImage stopPicture(int scale) {
    return buttonPicture(25, 25, scale, [](QPainter& p) {
        QPolygonF oct;
        for (int i = 0; i < 8; ++i) {
            double a = (22.5 + 45.0 * i) * M_PI / 180.0;
            oct << QPointF(12.5 + 11.5 * std::cos(a), 12.5 + 11.5 * std::sin(a));
        }
        QLinearGradient g(0, 1, 0, 24);
        g.setColorAt(0, QColor(240, 90, 80));
        g.setColorAt(1, QColor(150, 20, 20));
        p.setPen(QPen(QColor(110, 10, 10), 1.2));
        p.setBrush(g);
        p.drawPolygon(oct);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(8, 8, 9, 9));
    });
}

QImage quitPicture(int scale) {
    return buttonPicture(25, 25, scale, [](QPainter& p) {
        // A door with an arrow leaving through it.
        p.setPen(QPen(QColor(90, 60, 30), 1.2));
        p.setBrush(QColor(190, 140, 80));
        p.drawRect(QRectF(3, 2, 12, 21));
        p.setBrush(QColor(90, 60, 30));
        p.drawEllipse(QRectF(11.5, 12, 2, 2));
        QPainterPath arrow;
        arrow.moveTo(10, 10);
        arrow.lineTo(17, 10);
        arrow.lineTo(17, 6.5);
        arrow.lineTo(23.5, 12.5);
        arrow.lineTo(17, 18.5);
        arrow.lineTo(17, 15);
        arrow.lineTo(10, 15);
        arrow.closeSubpath();
        p.setPen(QPen(QColor(20, 90, 30), 1));
        p.setBrush(QColor(70, 180, 70));
        p.drawPath(arrow);
    });
}

QImage helpPicture(int scale) {
    return buttonPicture(25, 25, scale, [](QPainter& p) {
        roundBadge(p, QRectF(1, 1, 23, 23), QColor(120, 170, 240), QColor(20, 60, 160));
        QFont f("DejaVu Sans");
        f.setPixelSize(17);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(1, 1, 23, 23), Qt::AlignCenter, "?");
    });
}

QImage signPicture(bool plus, int scale) {
    return buttonPicture(25, 24, scale, [plus](QPainter& p) {
        // A sheet of evidence with a plus or minus badge.
        p.setPen(QPen(QColor(80, 80, 90), 1));
        p.setBrush(QColor(250, 250, 245));
        p.drawRect(QRectF(2.5, 1.5, 13, 17));
        p.setPen(QPen(QColor(150, 160, 180), 1));
        for (int y = 5; y <= 14; y += 3) {
            p.drawLine(QPointF(5, y + 0.5), QPointF(13, y + 0.5));
        }
        QColor top = plus ? QColor(120, 210, 110) : QColor(240, 110, 100);
        QColor bottom = plus ? QColor(30, 120, 40) : QColor(150, 20, 20);
        roundBadge(p, QRectF(11, 10, 13, 13), top, bottom);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(13.5, 15.5, 8, 2));
        if (plus) {
            p.drawRect(QRectF(16.5, 12.5, 2, 8));
        }
    });
}

QImage tickBoxPicture(int w, int h, bool ticked, int scale) {
    return buttonPicture(w, h, scale, [w, h, ticked](QPainter& p) {
        QRectF box(1.5, h - 16.5, 15, 15);
        p.setPen(QPen(QColor(60, 70, 90), 1));
        p.setBrush(QColor(255, 255, 255));
        p.drawRect(box);
        if (ticked) {
            QPainterPath tick;
            tick.moveTo(4, h - 9.5);
            tick.lineTo(8.5, h - 4.5);
            tick.lineTo(w - 1.0, 2);
            p.setPen(QPen(QColor(30, 140, 40), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPath(tick);
        } else {
            p.setPen(QPen(QColor(190, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(5, h - 13), QPointF(13, h - 5));
            p.drawLine(QPointF(13, h - 13), QPointF(5, h - 5));
        }
    });
}

// A disk platter seen from above, with one sector lit: the banner, the icon and the animation
// all use it.
void drawPlatter(QPainter& p, QPointF centre, double radius, double litAngle) {
    QRadialGradient g(centre, radius);
    g.setColorAt(0, QColor(235, 240, 245));
    g.setColorAt(0.7, QColor(170, 185, 200));
    g.setColorAt(1, QColor(110, 125, 145));
    p.setPen(QPen(QColor(60, 70, 85), 1));
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
    for (double r = radius * 0.35; r < radius; r += radius * 0.16) {
        p.setPen(QPen(QColor(140, 150, 165, 140), 0.8));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, r, r);
    }
    QPainterPath wedge;
    wedge.moveTo(centre);
    wedge.arcTo(QRectF(centre.x() - radius + 1, centre.y() - radius + 1, 2 * radius - 2, 2 * radius - 2),
                litAngle, 40);
    wedge.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 170, 40, 200));
    p.drawPath(wedge);
    p.setBrush(QColor(60, 70, 85));
    p.drawEllipse(centre, radius * 0.12, radius * 0.12);
}

QImage banner(int scale) {
    QImage img(517 * scale, 90 * scale, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QLinearGradient g(0, 0, 517, 90);
    g.setColorAt(0, QColor(14, 40, 72));
    g.setColorAt(1, QColor(20, 110, 120));
    p.fillRect(QRect(0, 0, 517, 90), g);

    // Faint rows of sector bytes behind the title.
    QFont mono("DejaVu Sans Mono");
    mono.setPixelSize(9);
    p.setFont(mono);
    p.setPen(QColor(255, 255, 255, 28));
    const char* rows[] = {"FF D8 FF E0 00 10 4A 46 49 46 00 01 01 00 00 01 00 01 00 00 FF DB 00 43",
                          "89 50 4E 47 0D 0A 1A 0A 00 00 00 0D 49 48 44 52 00 00 00 20 00 00 00 18",
                          "50 4B 03 04 14 00 00 00 08 00 D0 CF 11 E0 A1 B1 1A E1 25 50 44 46 2D 31",
                          "47 49 46 38 39 61 20 00 18 00 F7 00 00 42 4D 36 09 00 00 00 00 00 00 36",
                          "38 42 50 53 00 01 00 00 00 00 00 00 00 03 52 49 46 46 24 08 00 00 41 56",
                          "30 26 B2 75 8E 66 CF 11 A6 D9 00 AA 00 62 CE 6C 3C 68 74 6D 6C 3E 0A 3C",
                          "49 45 4E 44 AE 42 60 82 FF D9 25 25 45 4F 46 0A 3C 2F 68 74 6D 6C 3E 0A"};
    for (int i = 0; i < 7; ++i) {
        p.drawText(150, 12 + i * 12, rows[i]);
    }

    drawPlatter(p, QPointF(50, 45), 34, 30);

    QFont title("DejaVu Serif");
    title.setPixelSize(38);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QPointF(104, 51), "Morrow");
    p.setPen(QColor(250, 250, 250));
    p.drawText(QPointF(102, 49), "Morrow");

    QFont sub("DejaVu Sans");
    sub.setPixelSize(14);
    p.setFont(sub);
    p.setPen(QColor(190, 235, 235));
    p.drawText(QPointF(104, 72), "A Forensic Data Carving tool");

    p.setPen(QColor(255, 170, 40));
    p.drawLine(QPointF(104, 58), QPointF(330, 58));
    return img;
}

// Drawn on a 48 by 48 grid and scaled to `size` pixels square.
QImage icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    drawPlatter(p, QPointF(24, 24), 22, 30);
    // A carved file lifted off the platter.
    p.setPen(QPen(QColor(40, 50, 60), 1));
    p.setBrush(QColor(255, 255, 250));
    p.drawRect(QRectF(27.5, 4.5, 15, 19));
    p.setPen(QPen(QColor(255, 140, 0), 1.5));
    for (int y = 9; y <= 19; y += 4) {
        p.drawLine(QPointF(30, y), QPointF(40, y));
    }
    return img;
}

// The activity animation: 23 frames of 48 by 50 pixels side by side, one full turn of the lit
// sector, played at 7 frames per second.
QImage animationStrip(int scale) {
    const int frames = 23;
    QImage img(48 * frames * scale, 50 * scale, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    for (int f = 0; f < frames; ++f) {
        drawPlatter(p, QPointF(48 * f + 24, 25), 21, 90 - 360.0 * f / frames);
    }
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("res");
    QDir().mkpath(folder + "/buttons");
    bool ok = true;
    for (int scale : {1, 2}) {
        auto name = [scale](const char* stem) {
            return QString::fromLatin1(stem) + (scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale)) +
                   ".png";
        };
        ok &= save(startPicture(scale), folder, name("buttons/start"));
        ok &= save(stopPicture(scale), folder, name("buttons/stop"));
        ok &= save(quitPicture(scale), folder, name("buttons/quit"));
        ok &= save(helpPicture(scale), folder, name("buttons/help"));
        ok &= save(signPicture(true, scale), folder, name("buttons/add"));
        ok &= save(signPicture(false, scale), folder, name("buttons/remove"));
        ok &= save(tickBoxPicture(22, 23, true, scale), folder, name("buttons/select-all"));
        ok &= save(tickBoxPicture(23, 21, false, scale), folder, name("buttons/deselect-all"));
        ok &= save(banner(scale), folder, name("banner"));
        ok &= save(icon(48 * scale), folder, name("morrow"));
        ok &= save(animationStrip(scale), folder, name("activity"));
    }
    // The installed icons, one per size of the hicolor theme that desktops commonly look up.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString sub = QStringLiteral("icons/%1x%1").arg(size);
        QDir().mkpath(QDir(folder).filePath(sub));
        ok &= save(icon(size), folder, sub + "/morrow.png");
    }
    return ok ? 0 : 1;
}
