// How long the gallery takes to show its first screen of thumbnails for a large run: FILES files
// (10 000 unless told), each a hard link to one picture, so the run costs no disk space but every
// thumbnail is decoded afresh. Prints the time from showing the window to the last thumbnail on
// screen being drawn.
//
//   QT_QPA_PLATFORM=offscreen build/bin/morrow-gallery-open PICTURE.jpg [FILES]
#include "GalleryWindow.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtWidgets/QApplication>
#include <QtWidgets/QListView>

#include <cstdio>
#include <unistd.h>

using namespace morrow;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: morrow-gallery-open PICTURE.jpg [FILES]\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    QTemporaryDir dir;
    GalleryModel files;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("run~JPEGFile%1.jpg").arg(i));
        if (::link(QFile::encodeName(picture).constData(), QFile::encodeName(path).constData()) != 0) {
            std::fprintf(stderr, "cannot link %s\n", qPrintable(path));
            return 1;
        }
        CarvedFile file;
        file.type = kind::Jpeg;
        file.kindTag = "JPEGFile";
        file.number = i;
        file.runs = {
            ByteRun{static_cast<std::int64_t>(i) * 4096, static_cast<std::uint64_t>(QFile(picture).size())}};
        file.path = path.toStdString();
        files.add(file);
    }

    QElapsedTimer clock;
    clock.start();
    GalleryWindow gallery(files, nullptr);
    gallery.show();
    // The first paint asks for what is on screen; then wait for it to be drawn.
    gallery.grab();
    const qint64 firstPaint = clock.elapsed();
    while (!gallery.thumbnails().idle()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCoreApplication::processEvents();
    gallery.grab();
    std::printf("%d files: window painted in %lld ms, first screen of thumbnails in %lld ms\n", count,
                static_cast<long long>(firstPaint), static_cast<long long>(clock.elapsed()));
    return 0;
}
