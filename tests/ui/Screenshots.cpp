// Saves PNGs of the dialog at rest, during a run and at the summary, and of the gallery after a
// run of the demo image (when one is named), drawn on the offscreen platform, so the layout can be
// looked at without a desktop:
//
//   QT_QPA_PLATFORM=offscreen build/bin/morrow_screenshots build/screenshots [demo.img]
#include "ActivityClip.h"
#include "GalleryWindow.h"
#include "MainDialog.h"
#include "ScanningCarvers.h"
#include "TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMessageBox>

#include <cstdio>

using namespace morrow;

namespace {

bool save(QWidget* widget, const QString& folder, const QString& name) {
    const QString path = QDir(folder).filePath(name);
    if (!widget->grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Carves every kind from `image` and takes the summary's offer of the files: the gallery, once
// the thumbnails on screen are drawn, and its summary box.
bool saveGallery(const QString& image, const QString& out, const QString& folder) {
    bool ok = true;
    MainDialog dialog;
    dialog.show();
    dialog.setFileChooser([&](QWidget*, const QString&, const QString&) { return image; });
    dialog.setFolderChooser([&](QWidget*, const QString&, const QString&) { return out; });
    dialog.control<QAbstractButton>(ctl::EvidenceBrowse)->click();
    dialog.control<QAbstractButton>(ctl::Add)->click();
    dialog.control<QAbstractButton>(ctl::KindSelectAll)->click();
    dialog.control<QAbstractButton>(ctl::CarvingBrowse)->click();
    // The verdicts under the thumbnails, where the dialog can check that files open.
    for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
        if (box->text() == "Check that carved files open") {
            box->setChecked(true);
        }
    }
    dialog.host().setMessagePresenter([&](QWidget* owner, const MessageRequest& m) {
        if (m.title != "Completed..") {
            return answerOk;
        }
        const MessageBoxLook look = messageBoxLook(m.style);
        QMessageBox box(static_cast<QMessageBox::Icon>(look.icon), m.title, m.text,
                        static_cast<QMessageBox::StandardButtons>(look.buttons), owner);
        box.addButton(m.extraButton, QMessageBox::ActionRole);
        box.show();
        ok &= save(&box, folder, "gallery-summary-box.png");
        return m.extraButton.isEmpty() ? answerNo : answerExtraButton;
    });
    dialog.control<QAbstractButton>(ctl::Ok)->click();
    GalleryWindow* gallery = dialog.galleryWindow();
    if (gallery == nullptr) {
        std::fprintf(stderr, "the summary offered no gallery\n");
        return false;
    }
    // Painting asks for the thumbnails on screen; wait until they are drawn, then paint again.
    auto drawn = [&] {
        gallery->grab();
        QElapsedTimer waited;
        waited.start();
        while (!gallery->thumbnails().idle() && waited.elapsed() < 20000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        QCoreApplication::processEvents();
        return gallery;
    };
    ok &= save(drawn(), folder, "gallery.png");
    // The PDFs alone: their first pages.
    gallery->kindFilter()->setCurrentIndex(gallery->kindFilter()->findText("PDFFile"));
    return save(drawn(), folder, "gallery-pdf.png") && ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("build/screenshots");
    QDir().mkpath(folder);
    test::TempDir temp;
    const std::string image = temp / "disk.P01";
    test::ImageBuilder(8 * 1024 * 1024)
        .randomFill(3)
        .place(16 * 512, test::fixture("photo-jfif.jpg"))
        .writeTo(image);

    bool ok = true;
    MainDialog dialog;
    dialog.show();
    ok &= save(&dialog, folder, "initial.png");

    dialog.setFileChooser(
        [&](QWidget*, const QString&, const QString&) { return QString::fromStdString(image); });
    dialog.setFolderChooser(
        [&](QWidget*, const QString&, const QString&) { return QString::fromStdString(temp / "out"); });
    dialog.control<QAbstractButton>(ctl::EvidenceBrowse)->click();
    dialog.control<QAbstractButton>(ctl::Add)->click();
    const std::string second = temp / "usb-stick.P01";
    test::ImageBuilder(64 * 1024).randomFill(4).writeTo(second);
    dialog.setFileChooser(
        [&](QWidget*, const QString&, const QString&) { return QString::fromStdString(second); });
    dialog.control<QAbstractButton>(ctl::EvidenceBrowse)->click();
    dialog.control<QAbstractButton>(ctl::Add)->click();
    dialog.control<QAbstractButton>(ctl::AllPictureFiles)->click();
    dialog.control<QAbstractButton>(ctl::CarvingBrowse)->click();
    ok &= save(&dialog, folder, "at-rest.png");

    // The run scans for real; the first evidence file's scan is caught at 40 per cent.
    dialog.engine().setCarvers(test::scanningCarvers());
    dialog.host().setPollThrottle(1, std::chrono::microseconds(0));
    bool caught = false;
    dialog.host().setDrainHook([&] {
        if (!caught && dialog.control<QLabel>(ctl::Percent)->text() == "40%") {
            caught = true;
            dialog.activityClip()->update();
            ok &= save(&dialog, folder, "running.png");
            dialog.engine().state().stopRequested = 1;
        }
    });
    dialog.host().setMessagePresenter([&](QWidget* owner, const MessageRequest& m) {
        if (m.title != "Completed..") {
            return answerYes; // the Stop question: end the run here
        }
        ok &= save(&dialog, folder, "summary.png");
        const MessageBoxLook look = messageBoxLook(m.style);
        QMessageBox box(static_cast<QMessageBox::Icon>(look.icon), m.title, m.text,
                        static_cast<QMessageBox::StandardButtons>(look.buttons), owner);
        if (!m.extraButton.isEmpty()) {
            box.addButton(m.extraButton, QMessageBox::ActionRole);
        }
        box.show();
        ok &= save(&box, folder, "summary-box.png");
        return answerNo;
    });
    dialog.control<QAbstractButton>(ctl::Ok)->click();
    dialog.setHelpPath(MORROW_HELP_FILE);
    dialog.control<QAbstractButton>(ctl::Help)->click();
    if (dialog.helpWindow() != nullptr) {
        ok &= save(dialog.helpWindow(), folder, "help.png");
    }
    if (!caught) {
        std::fprintf(stderr, "the run ended before it could be shown\n");
        ok = false;
    }
    if (argc > 2) {
        ok &= saveGallery(QString::fromLocal8Bit(argv[2]), QString::fromStdString(temp / "demo-out"), folder);
    }
    return ok ? 0 : 1;
}
