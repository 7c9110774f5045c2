// The gallery of a run's files, driven offscreen: what a run lists, the filters, and opening.
#include "GalleryWindow.h"
#include "MainDialog.h"
#include "TestSupport.h"
#include "verify/FileCheck.h"

#include <QtCore/QThread>
#include <QtGui/QImageReader>
#include <QtTest/QtTest>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QListView>
#include <QtWidgets/QListWidget>

#include <memory>

using namespace morrow;

class GalleryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> temp;
    MainDialog* dialog = nullptr;
    std::vector<MessageRequest> summaries;
    int summaryAnswer = answerExtraButton;
    QStringList opened;
    QStringList explored;

    GalleryWindow* gallery() const { return dialog->galleryWindow(); }
    QListView* view() const { return gallery()->view(); }
    QStringList shownNames() const {
        QStringList names;
        for (int row = 0; row < view()->model()->rowCount(); ++row) {
            names << view()->model()->index(row, 0).data().toString();
        }
        return names;
    }
    QString carved(const QString& name) const {
        return QString::fromStdString(*temp / "out/disk") + "/" + name;
    }

    // A run of an image holding a JPEG and a PNG, with JPEG, PNG and PDF ticked.
    void run() {
        const std::string image = *temp / "disk.img";
        test::ImageBuilder(256 * 512)
            .randomFill(5)
            .place(16 * 512, test::fixture("photo-jfif.jpg"))
            .place(64 * 512, test::fixture("image.png"))
            .writeTo(image);
        dialog->setFileChooser(
            [&](QWidget*, const QString&, const QString&) { return QString::fromStdString(image); });
        dialog->setFolderChooser(
            [&](QWidget*, const QString&, const QString&) { return QString::fromStdString(*temp / "out"); });
        dialog->control<QAbstractButton>(ctl::EvidenceBrowse)->click();
        dialog->control<QAbstractButton>(ctl::Add)->click();
        dialog->control<QAbstractButton>(ctl::CarvingBrowse)->click();
        auto* kinds = dialog->control<QListWidget>(ctl::KindList);
        for (const char* text : {"JPEG Files", "PNG Files", "PDF Files"}) {
            kinds->findItems(text, Qt::MatchExactly).front()->setCheckState(Qt::Checked);
        }
        dialog->control<QAbstractButton>(ctl::Ok)->click();
    }

  private slots:
    void init() {
        temp = std::make_unique<test::TempDir>();
        summaries.clear();
        opened.clear();
        explored.clear();
        summaryAnswer = answerExtraButton;
        dialog = new MainDialog;
        dialog->host().setMessagePresenter([this](QWidget*, const MessageRequest& m) {
            if (m.title != "Completed..") {
                return answerOk;
            }
            summaries.push_back(m);
            return summaryAnswer;
        });
        dialog->host().setFolderExplorer([this](const QString& path) { explored << path; });
        dialog->setFileOpener([this](const QString& path) { opened << path; });
        dialog->show();
    }

    void cleanup() {
        delete dialog;
        temp.reset();
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a top-level window outlived the dialog");
    }

    // The summary keeps its text and question, and its third button opens the gallery instead of
    // the folder; the gallery lists the run's pictures with what the report says of them.
    void summaryOpensTheGalleryOfTheRun() {
        // The dialog's button: its caption fits, it covers no other control, and waits for a run.
        QWidget* button = dialog->control(ctl::ShowCarvedFiles);
        QVERIFY2(button->sizeHint().width() <= button->width(),
                 qPrintable(QString::number(button->sizeHint().width())));
        for (int other : dialog->controlIds()) {
            QVERIFY2(other == ctl::ShowCarvedFiles ||
                         !dialog->control(other)->geometry().intersects(button->geometry()),
                     qPrintable(dialog->control(other)->objectName()));
        }
        QVERIFY(!button->isEnabled());
        run();
        QCOMPARE(summaries.size(), std::size_t(1));
        QCOMPARE(summaries[0].style, 0x44);
        QVERIFY(summaries[0].text.endsWith("Do you want to view the resutlted files?."));
        QCOMPARE(summaries[0].extraButton, QString("Show the carved files"));
        QVERIFY(explored.isEmpty());
        QVERIFY(gallery() != nullptr && gallery()->isVisible());
        QVERIFY(button->isEnabled());

        QCOMPARE(shownNames(), QStringList({"disk~JPEGFile0.jpg", "disk~PNGFile0.png"}));
        const QModelIndex jpeg = view()->model()->index(0, 0);
        QCOMPARE(gallery()->pathAt(jpeg), carved("disk~JPEGFile0.jpg"));
        QCOMPARE(jpeg.data(GalleryModel::OffsetRole).toLongLong(), 16 * 512);
        QCOMPARE(jpeg.data(GalleryModel::SizeRole).toULongLong(), 958u);
        // The run did not check its files: the gallery does, and a file that opens says so.
        const int jpegVerdict =
            int(FileCheck::checks(kind::Jpeg) ? FileVerdict::State::Opens : FileVerdict::State::NotChecked);
        QTRY_COMPARE(jpeg.data(GalleryModel::VerdictRole).toInt(), jpegVerdict);
        QStringList kinds;
        for (int i = 0; i < gallery()->kindFilter()->count(); ++i) {
            kinds << gallery()->kindFilter()->itemText(i);
        }
        QCOMPARE(kinds, QStringList({"All kinds", "JPEGFile", "PNGFile"}));

        // Yes still opens the folder, and a second run starts the list afresh.
        summaryAnswer = answerYes;
        gallery()->close();
        run();
        QCOMPARE(explored.size(), 1);
        QVERIFY(!gallery()->isVisible());
        QCOMPARE(dialog->host().carvedFiles().rowCount(), 2);
        dialog->control<QAbstractButton>(ctl::ShowCarvedFiles)->click();
        QVERIFY(gallery()->isVisible());
    }

    // Verdicts arrive through the host as the engine gives them; the filters take kind and verdict.
    void filtersByKindAndVerdict() {
        run();
        // The run's own verdicts overrule what the gallery's check found before them.
        QTRY_VERIFY(!dialog->host().carvedFiles().checking());
        auto verdictFor = [&](const QString& name, FileVerdict::State state, const char* fault) {
            CarvedFile file;
            file.path = carved(name).toStdString();
            dialog->host().fileVerified(file, FileVerdict{state, fault});
        };
        verdictFor("disk~JPEGFile0.jpg", FileVerdict::State::Opens, "");
        verdictFor("disk~PNGFile0.png", FileVerdict::State::Damaged, "PNG data ends at 40 % of the picture");
        QVERIFY(
            view()->model()->index(1, 0).data(Qt::ToolTipRole).toString().contains("damaged: PNG data ends"));

        auto choose = [](QComboBox* box, const QString& text) {
            const int at = box->findText(text);
            QVERIFY2(at >= 0, qPrintable(text));
            box->setCurrentIndex(at);
        };
        choose(gallery()->kindFilter(), "PNGFile");
        QCOMPARE(shownNames(), QStringList{"disk~PNGFile0.png"});
        choose(gallery()->verdictFilter(), "opens");
        QCOMPARE(shownNames(), QStringList());
        choose(gallery()->kindFilter(), "All kinds");
        QCOMPARE(shownNames(), QStringList{"disk~JPEGFile0.jpg"});
        choose(gallery()->verdictFilter(), "damaged");
        QCOMPARE(shownNames(), QStringList{"disk~PNGFile0.png"});
        choose(gallery()->verdictFilter(), "not checked");
        QCOMPARE(shownNames(), QStringList());
    }

    // A double-click and Enter open the file, the context action its folder, through the opener.
    void opensFilesThroughTheOpener() {
        run();
        gallery()->activateWindow();
        view()->setFocus();
        const QModelIndex png = view()->model()->index(1, 0);
        QVERIFY(QTest::qWaitForWindowExposed(gallery()));
        // A double-click as the window system gives it: a click, then the double-click.
        const QPoint at = view()->visualRect(png).center();
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(opened, QStringList{carved("disk~PNGFile0.png")});

        view()->setCurrentIndex(png);
        QTest::keyClick(view(), Qt::Key_Left);
        QTest::keyClick(view(), Qt::Key_Return);
        QCOMPARE(opened.last(), carved("disk~JPEGFile0.jpg"));

        gallery()->showInFolder(png);
        QCOMPARE(opened.last(), QString::fromStdString(*temp / "out/disk"));
        QCOMPARE(opened.size(), 3);
        QTest::keyClick(view(), Qt::Key_Escape);
        QVERIFY(!gallery()->isVisible());
    }

    // The gallery's own check: a file that opens says so, a cut one is damaged, and verdicts
    // checked for a list that a new run has since cleared never land on the new list's files,
    // even where a name comes again.
    void ownCheckKeepsToTheCurrentList() {
        if (!FileCheck::checks(kind::Jpeg)) {
            QSKIP("this build checks no JPEG");
        }
        const std::string whole = test::fixture("photo-exif.jpg");
        const std::string cut = whole.substr(0, whole.size() / 2);
        GalleryModel files;
        auto addFile = [&](const std::string& name, const std::string& bytes) {
            CarvedFile file;
            file.path = *temp / name;
            file.type = kind::Jpeg;
            file.kindTag = "JPEGFile";
            file.runs = {ByteRun{0, bytes.size()}};
            test::writeFile(file.path, bytes);
            files.add(file);
        };
        addFile("a.jpg", cut);
        files.checkUnchecked();
        // Its verdict waits, undelivered, while the next run clears the list.
        while (files.checking()) {
            QThread::msleep(5);
        }
        files.clear();
        addFile("a.jpg", whole);
        addFile("b.jpg", cut);
        files.checkUnchecked();
        QTRY_VERIFY(!files.checking());
        QCoreApplication::processEvents();
        QCOMPARE(files.entry(0).verdict, FileVerdict::State::Opens);
        QCOMPARE(files.entry(1).verdict, FileVerdict::State::Damaged);
    }

    // Thumbnails: pictures scaled into the box as they decode, a PDF's first page; nothing for a
    // kind without a picture or for data that does not decode.
    void thumbnails_data() {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("large JPEG") << "photo-large.jpg" << kind::Jpeg << true;
        QTest::newRow("PNG") << "image.png" << kind::Png << true;
        QTest::newRow("GIF") << "image89a.gif" << kind::Gif << true;
        QTest::newRow("ZIP") << "stored-png.zip" << kind::Zip << false;
        QTest::newRow("PDF as JPEG") << "plain.pdf" << kind::Jpeg << false;
        // Without poppler in the build a PDF shows as a card.
        QTest::newRow("PDF") << "plain.pdf" << kind::Pdf << drawsPdfPages();
    }
    // The gallery's cache draws in worker processes what the same code draws here.
    void thumbnailsDrawnInWorkers_data() { thumbnails_data(); }
    void thumbnailsDrawnInWorkers() {
        QFETCH(QString, fixture);
        QFETCH(int, type);
        QFETCH(bool, drawn);
        const QString path = QString::fromStdString(test::fixturePath(fixture.toStdString()));
        ThumbnailCache cache;
        QSignalSpy done(&cache, &ThumbnailCache::drawn);
        QVERIFY(cache.find(path, type, 64).isNull());
        if (cache.idle()) {
            QVERIFY(!drawn); // a kind without a picture is never asked for
            return;
        }
        QVERIFY(done.wait(20000));
        const QImage image = cache.find(path, type, 64);
        QCOMPARE(!image.isNull(), drawn);
        QCOMPARE(cache.failed(path, 64), !drawn);
        if (drawn) {
            const QImage here =
                drawThumbnail(path, type, QSize(64, 64)).convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), here.size());
            QCOMPARE(image, here);
        }
    }

    void thumbnails() {
        QFETCH(QString, fixture);
        QFETCH(int, type);
        QFETCH(bool, drawn);
        const QString path = QString::fromStdString(test::fixturePath(fixture.toStdString()));
        const QSize box(64, 48);
        const QImage image = drawThumbnail(path, type, box);
        QCOMPARE(!image.isNull(), drawn);
        if (drawn && type != kind::Pdf) {
            // As large as fits, never enlarged.
            QSize full = QImageReader(path).size();
            if (full.width() > box.width() || full.height() > box.height()) {
                full = full.scaled(box, Qt::KeepAspectRatio);
            }
            QVERIFY2(qAbs(image.width() - full.width()) <= 1 && qAbs(image.height() - full.height()) <= 1,
                     qPrintable(QString("%1x%2").arg(image.width()).arg(image.height())));
        } else if (drawn) {
            QVERIFY(image.width() <= box.width() + 1 && image.height() <= box.height() + 1);
            QVERIFY(image.width() >= box.width() - 1 || image.height() >= box.height() - 1);
        }
    }
};

// As the dialog's own main: thumbnails and checks are made in worker processes started from this
// program.
int main(int argc, char** argv) {
    serveWorkersIfAsked(argc, argv);
    QApplication app(argc, argv);
    GalleryTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "GalleryTest.moc"
