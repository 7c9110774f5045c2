#include "MainDialog.h"
#include "ActivityClip.h"
#include "ImageButton.h"
#include "ScanningCarvers.h"
#include "SpinArrows.h"
#include "TestSupport.h"
#include "output/Output.h"

#include "volumes/FileSystemReader.h"

#include <QtCore/QDir>
#include <QtCore/QMimeData>
#include <QtCore/QSettings>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QTreeWidget>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>

using namespace morrow;

namespace {

const char* const warningTitle = "Morrow, Warning...";

QStringList texts(QListWidget* list, bool tickedOnly = false) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        if (!tickedOnly || list->item(i)->checkState() == Qt::Checked) {
            out << list->item(i)->text();
        }
    }
    return out;
}

QStringList texts(QTreeWidget* list, bool tickedOnly = false) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (!tickedOnly || list->topLevelItem(i)->checkState(0) == Qt::Checked) {
            out << list->topLevelItem(i)->text(0);
        }
    }
    return out;
}

// The controls whose enabled state run mode changes, and what they must be in it.
const std::vector<std::pair<int, bool>> runModeStates = {
    {ctl::EvidencePath, false},
    {ctl::EvidenceBrowse, false},
    {ctl::EvidenceList, false},
    {ctl::Add, false},
    {ctl::Remove, false},
    {ctl::KindList, false},
    {ctl::AllPictureFiles, false},
    {ctl::KindSelectAll, false},
    {ctl::KindDeselectAll, false},
    {ctl::EvidenceSelectAll, false},
    {ctl::EvidenceDeselectAll, false},
    {ctl::MaxFileSize, false},
    {ctl::SizeSpin, false},
    {ctl::CarvingPath, false},
    {ctl::CarvingBrowse, false},
    {ctl::Progress, false},
    {ctl::Ok, false},
    {ctl::Stop, true},
    {ctl::Cancel, true},
    {ctl::Help, true},
    {ctl::ExactEnds, false},
    {ctl::WriteDfxml, false},
    {ctl::ReportOnly, false},
    {ctl::UnallocatedOnly, false},
    {ctl::ReassembleFragments, false},
    {ctl::VerifyFiles, false},
    {ctl::ShowCarvedFiles, false},
};

} // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

    MainDialog* dialog = nullptr;
    std::unique_ptr<test::TempDir> temp;
    std::vector<MessageRequest> messages;
    std::function<int(const MessageRequest&)> answer;
    QStringList explored;
    QString nextEvidence;
    QString nextFolder;
    QString chooserFolder; // where the evidence chooser was last asked to open

    QWidget* control(int id) const { return dialog->control(id); }
    void click(int id) { dialog->control<QAbstractButton>(id)->click(); }
    QListWidget* kinds() const { return dialog->control<QListWidget>(ctl::KindList); }
    QTreeWidget* evidence() const { return dialog->control<QTreeWidget>(ctl::EvidenceList); }
    QLineEdit* sizeBox() const { return dialog->control<QLineEdit>(ctl::MaxFileSize); }
    // The status area's frame, whose caption is the run's overall line.
    QGroupBox* statusArea() const { return dialog->findChild<QGroupBox*>("statusArea"); }

    // Sends a drag-and-drop event of `data` to the evidence list, as a file manager's drag does;
    // true when the list accepted it.
    bool drop(const QMimeData& data, QEvent::Type type) {
        QWidget* target = evidence()->viewport();
        const QPointF at = QPointF(target->rect().center());
        if (type == QEvent::DragEnter) {
            QDragEnterEvent event(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(target, &event);
            return event.isAccepted();
        }
        QDropEvent event(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
        QCoreApplication::processEvents(); // the dialog lists dropped files once the drop is over
        return event.isAccepted();
    }

    void addEvidence(const QString& path) {
        nextEvidence = path;
        click(ctl::EvidenceBrowse);
        click(ctl::Add);
    }
    void chooseCarvingPath(const QString& path) {
        nextFolder = path;
        click(ctl::CarvingBrowse);
    }
    void tickKind(const QString& text) {
        const auto found = kinds()->findItems(text, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        found.front()->setCheckState(Qt::Checked);
    }
    void typeSize(const QString& text) {
        sizeBox()->clear();
        QTest::keyClicks(sizeBox(), text);
    }
    QStringList messageTexts() const {
        QStringList out;
        for (const MessageRequest& m : messages) {
            out << m.text;
        }
        return out;
    }
    // An evidence image of `sectors` sectors holding one JPEG at sector 16.
    QString writeImage(const std::string& name, int sectors) {
        const std::string path = *temp / name;
        test::ImageBuilder(static_cast<std::uint64_t>(sectors) * 512)
            .randomFill(7)
            .place(16 * 512, test::fixture("photo-jfif.jpg"))
            .writeTo(path);
        return QString::fromStdString(path);
    }
    // Evidence, JPEG ticked and a carving path: ready to start.
    QString prepareRun(int sectors = 64) {
        addEvidence(writeImage("disk.img", sectors));
        tickKind("JPEG Files");
        const QString out = QString::fromStdString(*temp / "out");
        chooseCarvingPath(out);
        return out;
    }

    // A dialog with every seam answered by the test; `settings` (a file) when it is to remember.
    void openDialog(const QString& settings = QString()) {
        dialog = new MainDialog;
        if (!settings.isEmpty()) {
            dialog->rememberIn(new QSettings(settings, QSettings::IniFormat));
        }
        dialog->host().setMessagePresenter([this](QWidget* owner, const MessageRequest& m) {
            [&] { QVERIFY(owner == dialog); }();
            messages.push_back(m);
            if (answer) {
                return answer(m);
            }
            return (m.style & 0x0F) == 0x04 ? answerNo : answerOk;
        });
        dialog->host().setFolderExplorer([this](const QString& path) { explored << path; });
        dialog->setFileChooser([this](QWidget*, const QString& filter, const QString& folder) {
            [&] {
                QCOMPARE(filter, QString("Evidence Files (*.P01);; All Files (*);; "
                                         "E01 and Split Raw Images (*.E01 *.e01 *.001 *.aa)"));
            }();
            chooserFolder = folder;
            return nextEvidence;
        });
        // Names under /evidence and /e stand for images the test never makes; any other is opened.
        dialog->setEvidenceCheck([](const std::string& path) {
            return path.rfind("/evidence/", 0) == 0 || path.rfind("/e/", 0) == 0
                       ? std::string()
                       : DialogModel::evidenceOpenFailure(path);
        });
        dialog->setFolderChooser([this](QWidget*, const QString& title, const QString&) {
            [&] { QCOMPARE(title, QString("Choose Path for Carving Files")); }();
            return nextFolder;
        });
        dialog->show();
    }

  private slots:
    void init() {
        temp = std::make_unique<test::TempDir>();
        messages.clear();
        explored.clear();
        chooserFolder = "unasked";
        answer = nullptr;
        openDialog();
    }

    void cleanup() {
        delete dialog;
        dialog = nullptr;
        temp.reset();
        QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a top-level window outlived the dialog");
    }

    void opensAtRest() {
        QCOMPARE(dialog->windowTitle(), QString("Morrow  - A Forensic Data Carving tool"));
        QCOMPARE(texts(kinds()), QStringList({"BMP Files", "Compound Doc Files", "GIF Files", "HTML Files",
                                              "JPEG Files", "PDF Files", "PNG Files", "PSD Files",
                                              "TIFF Files", "Video Files", "ZIP Files"}));
        QVERIFY(texts(kinds(), true).isEmpty());
        QCOMPARE(evidence()->headerItem()->text(0), QString("Evidence File Path"));
        QCOMPARE(sizeBox()->text(), QString("1024"));
        QCOMPARE(dialog->control<QLabel>(ctl::Status)->text(),
                 QString("Select all required fields and Click Start to proceed."));
        QVERIFY(control(ctl::Progress)->isHidden());
        QCOMPARE(statusArea()->title(), QString());
        // Show the carved files waits for a run.
        for (int id : dialog->controlIds()) {
            const bool expected =
                id != ctl::Add && id != ctl::Remove && id != ctl::Stop && id != ctl::ShowCarvedFiles;
            QVERIFY2(control(id)->isEnabled() == expected, qPrintable(control(id)->objectName()));
        }
        // The template's tab order, through the controls that take the focus.
        const int order[] = {ctl::EvidencePath,
                             ctl::EvidenceBrowse,
                             ctl::Add,
                             ctl::Remove,
                             ctl::KindList,
                             ctl::AllPictureFiles,
                             ctl::KindSelectAll,
                             ctl::KindDeselectAll,
                             ctl::ExactEnds,
                             ctl::MaxFileSize,
                             ctl::CarvingPath,
                             ctl::CarvingBrowse,
                             ctl::WriteDfxml,
                             ctl::ReportOnly,
                             ctl::UnallocatedOnly,
                             ctl::ReassembleFragments,
                             ctl::VerifyFiles,
                             ctl::ShowCarvedFiles,
                             ctl::Help,
                             ctl::Ok,
                             ctl::Cancel,
                             ctl::Stop,
                             ctl::EvidenceList,
                             ctl::EvidenceSelectAll,
                             ctl::EvidenceDeselectAll};
        for (std::size_t i = 1; i < std::size(order); ++i) {
            QWidget* next = control(order[i - 1])->nextInFocusChain();
            while (!next->objectName().startsWith("control") || next->focusPolicy() == Qt::NoFocus) {
                next = next->nextInFocusChain();
            }
            QCOMPARE(next, control(order[i]));
        }
        // Relative placement: the evidence row above the kinds, the kinds above the settings.
        QVERIFY(control(ctl::EvidencePath)->geometry().bottom() < control(ctl::EvidenceList)->y());
        QVERIFY(control(ctl::KindList)->geometry().bottom() < control(ctl::MaxFileSize)->y());
        QVERIFY(control(ctl::MaxFileSize)->geometry().bottom() < control(ctl::CarvingPath)->y());
        QVERIFY(control(ctl::Ok)->geometry().bottom() < control(ctl::Stop)->y());
        QVERIFY(control(ctl::Stop)->geometry().bottom() < control(ctl::Cancel)->y());
    }

    void settingsWarnings_data() {
        QTest::addColumn<bool>("withEvidence");
        QTest::addColumn<bool>("withKind");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("withPath");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<int>("focus");
        QTest::newRow("no_evidence_before_anything_else")
            << false << false << "0" << false << "No Evidence File(s) is added." << 0;
        QTest::newRow("no_kind_size_not_looked_at")
            << true << false << "0" << false << "Select One of the File Type to Carve" << 0;
        QTest::newRow("size_zero") << true << true << "0" << true << "File Size can't be null."
                                   << ctl::MaxFileSize;
        QTest::newRow("size_10241") << true << true << "10241" << true
                                    << "Carving of File Size >10240KB(10MB) is not supported."
                                    << ctl::MaxFileSize;
        QTest::newRow("empty_carving_path") << true << true << "10240" << false
                                            << "Specify Folder Path for Carving Files" << ctl::CarvingPath;
    }

    void settingsWarnings() {
        QFETCH(bool, withEvidence);
        QFETCH(bool, withKind);
        QFETCH(QString, size);
        QFETCH(bool, withPath);
        QFETCH(QString, warning);
        QFETCH(int, focus);
        if (withEvidence) {
            addEvidence(writeImage("disk.img", 1));
        }
        if (withKind) {
            tickKind("GIF Files");
        }
        typeSize(size);
        const QString out = QString::fromStdString(*temp / "out");
        if (withPath) {
            chooseCarvingPath(out);
        }
        control(ctl::EvidenceList)->setFocus();

        click(ctl::Ok);

        QCOMPARE(messageTexts(), QStringList{warning});
        QCOMPARE(messages[0].title, QString(warningTitle));
        QCOMPARE(messages[0].style, 0x30);
        if (focus != 0) {
            QCOMPARE(dialog->focusWidget(), control(focus));
        }
        QVERIFY(!QFileInfo::exists(out));
        QVERIFY(control(ctl::Ok)->isEnabled());
        QCOMPARE(sizeBox()->text(), size); // the form keeps its values
    }

    void sizeBoxTakesDigitsOnly() {
        typeSize("12a-3");
        QCOMPARE(sizeBox()->text(), QString("123"));
        auto* spin = dialog->control<SpinArrows>(ctl::SizeSpin);
        typeSize("10239");
        spin->findChild<QToolButton*>("up")->click();
        spin->findChild<QToolButton*>("up")->click();
        QCOMPARE(sizeBox()->text(), QString("10240"));
        typeSize("2");
        QTest::keyClick(sizeBox(), Qt::Key_Down);
        QTest::keyClick(sizeBox(), Qt::Key_Down);
        QCOMPARE(sizeBox()->text(), QString("1"));
        // Larger numbers can still be typed; the run refuses them.
        typeSize("20000");
        QCOMPARE(sizeBox()->text(), QString("20000"));
    }

    void sizeBoxWithoutAnIntegerAsksForOne_data() {
        QTest::addColumn<QString>("size");
        QTest::newRow("empty") << "";
        QTest::newRow("beyond_32_bits") << "99999999999";
    }

    void sizeBoxWithoutAnIntegerAsksForOne() {
        QFETCH(QString, size);
        addEvidence("/evidence/disk.P01");
        typeSize(size);
        click(ctl::Ok);
        // The exchange stops at the size box, the run goes on with the last good size and refuses
        // the missing kind.
        QCOMPARE(messageTexts(),
                 QStringList({"Please enter an integer.", "Select One of the File Type to Carve"}));
        QVERIFY(messages[0].app);
        QCOMPARE(messages[0].title, DialogHost::applicationTitle());
        QCOMPARE(messages[0].style, 0x30);
        QCOMPARE(dialog->engine().state().maxFileSizeKB, 1024);
        QCOMPARE(dialog->focusWidget(), control(ctl::MaxFileSize));
    }

    void addRefusesDuplicates() {
        QVERIFY(!control(ctl::Add)->isEnabled());
        nextEvidence = "/evidence/b.P01";
        click(ctl::EvidenceBrowse);
        QCOMPARE(dialog->control<QLineEdit>(ctl::EvidencePath)->text(), nextEvidence);
        QVERIFY(control(ctl::Add)->isEnabled());
        click(ctl::Add);
        QVERIFY(!control(ctl::Add)->isEnabled());
        QVERIFY(dialog->control<QLineEdit>(ctl::EvidencePath)->text().isEmpty());

        addEvidence("/evidence/a.P01");
        addEvidence("/evidence/b.P01");
        QCOMPARE(messageTexts(), QStringList{"Evidence is already selected."});
        QCOMPARE(messages[0].title, QString(warningTitle));
        QCOMPARE(messages[0].style, 0x30);
        QVERIFY(dialog->control<QLineEdit>(ctl::EvidencePath)->text().isEmpty());

        addEvidence("/evidence/B.P01"); // letter case makes another path
        QCOMPARE(texts(evidence()), QStringList({"/evidence/a.P01", "/evidence/B.P01", "/evidence/b.P01"}));
        QCOMPARE(messages.size(), std::size_t{1});

        nextEvidence.clear(); // a cancelled chooser changes nothing
        click(ctl::EvidenceBrowse);
        QVERIFY(!control(ctl::Add)->isEnabled());
    }

    // The command line and a file manager's drop list evidence by Add's rule, whatever the
    // evidence box holds.
    void evidenceFromOutside_data() {
        QTest::addColumn<bool>("dropped");
        QTest::newRow("command_line") << false;
        QTest::newRow("dropped_on_the_list") << true;
    }

    void evidenceFromOutside() {
        QFETCH(bool, dropped);
        addEvidence("/e/b.img");
        nextEvidence = "/e/chosen.img";
        click(ctl::EvidenceBrowse);
        const QStringList paths = {"/e/c.img", "/e/a.img", "/e/b.img", "/e/c.img"};
        if (dropped) {
            QMimeData data;
            QList<QUrl> urls;
            for (const QString& path : paths) {
                urls << QUrl::fromLocalFile(path);
            }
            // Neither a folder nor a remote file can be evidence; a drop of nothing else is refused.
            const QList<QUrl> unusable = {QUrl::fromLocalFile(QString::fromStdString(temp->path())),
                                          QUrl("https://example.org/disk.img")};
            data.setUrls(unusable);
            QVERIFY(!drop(data, QEvent::DragEnter));
            data.setUrls(unusable + urls);
            QVERIFY(drop(data, QEvent::DragEnter));
            QVERIFY(drop(data, QEvent::Drop));
        } else {
            dialog->addEvidenceFiles(paths);
        }
        QCOMPARE(texts(evidence()), QStringList({"/e/a.img", "/e/b.img", "/e/c.img"}));
        QCOMPARE(messageTexts(),
                 QStringList({"Evidence is already selected.", "Evidence is already selected."}));
        QCOMPARE(dialog->control<QLineEdit>(ctl::EvidencePath)->text(), QString("/e/chosen.img"));
        QVERIFY(control(ctl::Add)->isEnabled());
    }

    // What the last run was started with comes back at the next start, unless it no longer fits.
    void settingsOfferedAtTheNextStart_data() {
        QTest::addColumn<bool>("stillThere");
        QTest::newRow("offered_again") << true;
        QTest::newRow("gone_folders_and_bad_size_not_offered") << false;
    }

    void settingsOfferedAtTheNextStart() {
        QFETCH(bool, stillThere);
        const QString settings = QString::fromStdString(*temp / "morrow.conf");
        const QString evidenceFolder = QString::fromStdString(*temp / "cases");
        QVERIFY(QDir().mkpath(evidenceFolder));
        delete dialog;
        openDialog(settings);
        const QString image = writeImage("cases/disk.img", 64);
        addEvidence(image);
        QCOMPARE(chooserFolder, QDir::homePath()); // nothing remembered yet: the home folder
        tickKind("JPEG Files");
        click(ctl::ReassembleFragments);
        click(ctl::WriteDfxml);
        tickKind("PNG Files");
        typeSize("333");
        const QString out = QString::fromStdString(*temp / "out");
        chooseCarvingPath(out);
        click(ctl::Ok);
        QCOMPARE(messages.back().title, QString("Completed.."));
        QCOMPARE(sizeBox()->text(), QString("1024")); // the finished run still resets the form
        delete dialog;

        if (!stillThere) {
            QVERIFY(QDir(out).removeRecursively());
            QVERIFY(QDir(evidenceFolder).removeRecursively());
            QSettings(settings, QSettings::IniFormat).setValue("maxFileSizeKB", 10241);
        }
        openDialog(settings);
        QCOMPARE(texts(kinds(), true), QStringList({"JPEG Files", "PNG Files"}));
        QCOMPARE(sizeBox()->text(), stillThere ? QString("333") : QString("1024"));
        QCOMPARE(dialog->control<QLineEdit>(ctl::CarvingPath)->text(), stillThere ? out : QString());
        // Reassembly is offered again, with the exact ends it implied.
        QVERIFY(dialog->control<QCheckBox>(ctl::ReassembleFragments)->isChecked());
        QVERIFY(dialog->control<QCheckBox>(ctl::ExactEnds)->isChecked());
        QVERIFY(dialog->control<QCheckBox>(ctl::WriteDfxml)->isChecked());
        nextEvidence.clear();
        click(ctl::EvidenceBrowse);
        QCOMPARE(chooserFolder, stillThere ? evidenceFolder : QDir::homePath());
    }

    // Evidence that cannot be opened is refused at Add, and evidence gone since it was listed
    // at Start, before anything is made.
    void evidenceThatCannotBeOpenedIsRefused() {
        const QString gone = QString::fromStdString(*temp / "gone.img");
        addEvidence(gone);
        QVERIFY(texts(evidence()).isEmpty());
        QCOMPARE(messageTexts(),
                 QStringList{"Evidence file open failed: " + gone + ": No such file or directory"});
        const QString image = writeImage("disk.img", 8);
        addEvidence(image);
        tickKind("JPEG Files");
        const QString out = QString::fromStdString(*temp / "out");
        chooseCarvingPath(out);
        QVERIFY(QFile::remove(image));
        messages.clear();
        click(ctl::Ok);
        QCOMPARE(messageTexts(),
                 QStringList{"Evidence file open failed: " + image + ": No such file or directory"});
        QVERIFY(!QDir(out).exists());
        QVERIFY(control(ctl::Ok)->isEnabled());
    }

    void removeTakesTheTickedItems() {
        addEvidence("/e/1.img");
        addEvidence("/e/2.img");
        addEvidence("/e/3.img");
        QVERIFY(!control(ctl::Remove)->isEnabled());
        evidence()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        evidence()->topLevelItem(2)->setCheckState(0, Qt::Checked);
        QVERIFY(control(ctl::Remove)->isEnabled());
        click(ctl::Remove);
        QCOMPARE(texts(evidence()), QStringList{"/e/2.img"});
        QVERIFY(!control(ctl::Remove)->isEnabled());
    }

    void selectButtons() {
        addEvidence("/e/1.img");
        addEvidence("/e/2.img");
        click(ctl::EvidenceSelectAll);
        QCOMPARE(texts(evidence(), true).size(), 2);
        QVERIFY(control(ctl::Remove)->isEnabled());
        click(ctl::EvidenceDeselectAll);
        QVERIFY(texts(evidence(), true).isEmpty());
        QVERIFY(!control(ctl::Remove)->isEnabled());

        click(ctl::KindSelectAll);
        QCOMPARE(texts(kinds(), true).size(), 11);
        dialog->control<QCheckBox>(ctl::AllPictureFiles)->click();
        click(ctl::KindDeselectAll);
        QVERIFY(texts(kinds(), true).isEmpty());
        QVERIFY(!dialog->control<QCheckBox>(ctl::AllPictureFiles)->isChecked());
        QCOMPARE(dialog->engine().state().allPictureFiles, 0);
    }

    void allPictureFilesTicksExactlyThePictures() {
        tickKind("ZIP Files");
        auto* box = dialog->control<QCheckBox>(ctl::AllPictureFiles);
        box->click();
        QCOMPARE(texts(kinds(), true), QStringList({"BMP Files", "GIF Files", "JPEG Files", "PNG Files",
                                                    "PSD Files", "TIFF Files"}));
        box->click();
        QVERIFY(texts(kinds(), true).isEmpty());
    }

    void runModeEnablesOnlyStopQuitAndHelp() {
        dialog->engine().setCarvers(test::scanningCarvers());
        prepareRun();
        dialog->host().setPollThrottle(1, std::chrono::microseconds(0));
        QStringList wrong;
        bool looked = false;
        dialog->host().setDrainHook([&] {
            if (looked) {
                return;
            }
            looked = true;
            for (const auto& [id, enabled] : runModeStates) {
                if (control(id)->isEnabled() != enabled) {
                    wrong << control(id)->objectName();
                }
            }
            QVERIFY(!control(ctl::Progress)->isHidden());
        });
        click(ctl::Ok);
        QVERIFY(looked);
        QCOMPARE(wrong, QStringList());
        // Left again: everything but Add, Remove and Stop, which follow their own rules.
        for (int id : dialog->controlIds()) {
            const bool expected = id != ctl::Add && id != ctl::Remove && id != ctl::Stop;
            QVERIFY2(control(id)->isEnabled() == expected, qPrintable(control(id)->objectName()));
        }
    }

    void stopAndQuit_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("reply");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<bool>("closes");
        const QString stopQ = "Do you want to Cancel the Carving Process?";
        const QString quitQ = "Carving Process is in progress!.\n Do you want to Quit the process?";
        QTest::newRow("stop_yes") << "stop" << answerYes << stopQ << "Carving Completed Partially.\n"
                                  << false;
        QTest::newRow("stop_no") << "stop" << answerNo << stopQ << "Carving Completed Successfully.\n"
                                 << false;
        QTest::newRow("quit_yes") << "quit" << answerYes << quitQ << "Carving Completed Partially.\n" << true;
        QTest::newRow("quit_no") << "quit" << answerNo << quitQ << "Carving Completed Successfully.\n"
                                 << false;
        QTest::newRow("esc_yes") << "esc" << answerYes << quitQ << "Carving Completed Partially.\n" << true;
        QTest::newRow("close_box_yes") << "close" << answerYes << quitQ << "Carving Completed Partially.\n"
                                       << true;
    }

    void stopAndQuit() {
        QFETCH(QString, how);
        QFETCH(int, reply);
        QFETCH(QString, question);
        QFETCH(QString, summary);
        QFETCH(bool, closes);
        dialog->engine().setCarvers(test::scanningCarvers());
        prepareRun(256);
        bool raised = false;
        // Raised from inside the first drain of the run, as a click arrives between two sectors.
        dialog->host().setDrainHook([&] {
            if (raised) {
                return;
            }
            raised = true;
            if (how == "stop") {
                click(ctl::Stop);
            } else if (how == "quit") {
                click(ctl::Cancel);
            } else if (how == "esc") {
                QTest::keyClick(dialog, Qt::Key_Escape);
            } else {
                dialog->close();
            }
            QVERIFY(dialog->isVisible()); // during a run these only raise a request
        });
        answer = [&](const MessageRequest& m) { return m.title == "Completed.." ? answerNo : reply; };

        click(ctl::Ok);

        QVERIFY(raised);
        QCOMPARE(messages.size(), std::size_t{2});
        QCOMPARE(messages[0].text, question);
        QCOMPARE(messages[0].title, QString(warningTitle));
        QCOMPARE(messages[0].style, 0x14);
        QVERIFY(messages[1].text.startsWith(summary));
        QCOMPARE(messages[1].title, QString("Completed.."));
        QCOMPARE(messages[1].style, 0x44);
        QCOMPARE(dialog->isVisible(), !closes);
        if (closes) {
            QCOMPARE(dialog->result(), int(QDialog::Rejected));
        } else {
            // After the run, Quit ends the application at once.
            QCOMPARE(dialog->engine().state().carvingInProgress, 0);
            QVERIFY(control(ctl::Ok)->isEnabled());
            QVERIFY(!control(ctl::Stop)->isEnabled());
            click(ctl::Cancel);
            QVERIFY(!dialog->isVisible());
            QCOMPARE(messages.size(), std::size_t{2});
        }
    }

    void twoStopPressesAskOnce() {
        dialog->engine().setCarvers(test::scanningCarvers());
        prepareRun(256);
        dialog->host().setPollThrottle(1, std::chrono::microseconds(0));
        int drains = 0;
        dialog->host().setDrainHook([&] {
            if (++drains == 1) {
                click(ctl::Stop);
                click(ctl::Stop); // two presses before one poll ask once
            }
        });
        click(ctl::Ok);
        QCOMPARE(messages.size(), std::size_t{2});
        QVERIFY(messages[1].text.startsWith("Carving Completed Successfully."));
        QVERIFY(!dialog->activityClip()->isOpen()); // the finished scan closed its animation
    }

    void stopAndQuitAnsweredWhileAHugeFileIsCarved_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("stop") << "stop";
        QTest::newRow("quit") << "quit";
    }

    // Broke: the copy and hashing of a carved file had no poll point, so the window froze and a
    // Stop or Quit waited for the whole file (seconds for a large movie). Now its question comes
    // within a second, and the run ends partially with nothing of the file left.
    void stopAndQuitAnsweredWhileAHugeFileIsCarved() {
        QFETCH(QString, how);
        // A movie whose media data box fills a sparse 1 GiB image: carved whole with exact ends,
        // its copy hashed for the DFXML report.
        const std::string path = *temp / "movie.img";
        {
            std::string head = test::fixture("clip-faststart.mp4");
            QCOMPARE(head.substr(859, 4), std::string("mdat"));
            head.replace(855, 4, test::be32((1u << 30) - 4096));
            std::ofstream image(path, std::ios::binary);
            image.write(head.data(), static_cast<std::streamsize>(head.size()));
            image.seekp((std::streamoff{1} << 30) - 1);
            image.put('\0');
        }
        addEvidence(QString::fromStdString(path));
        tickKind("Video Files");
        const QString out = QString::fromStdString(*temp / "out");
        chooseCarvingPath(out);
        click(ctl::ExactEnds);
        click(ctl::WriteDfxml);
        using Clock = std::chrono::steady_clock;
        std::optional<Clock::time_point> carving;
        std::optional<Clock::time_point> raised;
        std::optional<Clock::time_point> asked;
        // The longest the window went without a drain (a click waits that long) while the file
        // was carved.
        Clock::duration longestGap{};
        Clock::time_point lastDrain{};
        dialog->host().setDrainHook([&] {
            const auto now = Clock::now();
            if (carving && !raised) {
                longestGap = std::max(longestGap, now - lastDrain);
            }
            lastDrain = now;
            if (!carving && dialog->control<QLabel>(ctl::Status)->text().startsWith("Carving")) {
                carving = now;
            }
            // Well into the file's copy.
            if (carving && !raised && now - *carving > std::chrono::milliseconds(200)) {
                raised = now;
                click(how == "stop" ? ctl::Stop : ctl::Cancel);
            }
        });
        answer = [&](const MessageRequest& m) {
            if (m.style == 0x14 && !asked) {
                asked = Clock::now();
                return answerYes;
            }
            return m.title == "Completed.." ? answerNo : answerOk;
        };

        click(ctl::Ok);

        QVERIFY2(raised, "no drain while the file was carved");
        QVERIFY(asked);
        const double seconds = std::chrono::duration<double>(*asked - *raised).count();
        const double gap = std::chrono::duration<double>(longestGap).count();
        qInfo("longest time without a drain %.3f s; question asked %.3f s after the click", gap, seconds);
        // Typically 0.06 s; room for a loaded machine.
        QVERIFY2(gap < 2.0, qPrintable(QString("no drain for %1 s").arg(gap)));
        QVERIFY2(seconds < 1.0, qPrintable(QString("asked after %1 s").arg(seconds)));
        QVERIFY(messages.back().text.startsWith("Carving Completed Partially.\n"));
        const std::string folder = out.toStdString() + "/movie";
        QVERIFY(test::readFile(folder + "/movie~Report.dfxml").find("<run_status>incomplete</run_status>") !=
                std::string::npos);
        QVERIFY(!test::fileExists(folder + "/movie~VideoFiles0.mp4"));
        QCOMPARE(dialog->isVisible(), how == "stop");
    }

    void quitWithoutRunClosesAtOnce() {
        click(ctl::Cancel);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(messages.empty());
    }

    void fullRunFromTheDialog() {
        // The engine's own carvers, whatever kinds are built so far.
        const QString out = prepareRun(64);
        answer = [](const MessageRequest& m) { return m.title == "Completed.." ? answerYes : answerOk; };
        // The overall line is in the status area while the run goes (the last drain before the
        // summary shows it), and stays with the run's figures after it: all read, one file.
        QString overallSeen;
        dialog->host().setPollThrottle(1, std::chrono::microseconds(0));
        dialog->host().setDrainHook([&] { overallSeen = statusArea()->title(); });

        click(ctl::Ok);
        QVERIFY2(overallSeen.contains(QRegularExpression("^[0-9.]+ KiB of [0-9.]+ KiB, [01] files?")),
                 qPrintable(overallSeen));
        QVERIFY2(statusArea()->title().contains(QRegularExpression("^([0-9.]+ KiB) of \\1, 1 file$")),
                 qPrintable(statusArea()->title()));

        QVERIFY(!messages.empty());
        const MessageRequest& summary = messages.back();
        QCOMPARE(summary.title, QString("Completed.."));
        QVERIFY2(summary.text.startsWith("Carving Completed Successfully.\nTotal No:Of files carved: "),
                 qPrintable(summary.text));
        QVERIFY(summary.text.endsWith("\nDo you want to view the resutlted files?."));
        QCOMPARE(explored, QStringList{out});

        const std::string folder = out.toStdString() + "/disk";
        const std::string report = test::readFile(folder + "/disk~Report.xls");
        QVERIFY(report.rfind(Output::reportHeader(), 0) == 0);
        const std::string carved = folder + "/disk~JPEGFile0.jpg";
        QVERIFY(test::readFile(carved) == test::fixture("photo-jfif.jpg"));
        // Starting sector = offset / 512 - 1.
        QVERIFY(report.find("disk~JPEGFile0.jpg\t8192\t15\t2\t958\t") != std::string::npos);

        // The form is reset; the evidence stays listed, unticked.
        QCOMPARE(texts(evidence()).size(), 1);
        QVERIFY(texts(evidence(), true).isEmpty());
        QVERIFY(texts(kinds(), true).isEmpty());
        QCOMPARE(sizeBox()->text(), QString("1024"));
        QVERIFY(dialog->control<QLineEdit>(ctl::CarvingPath)->text().isEmpty());
        QCOMPARE(dialog->control<QLabel>(ctl::Status)->text(),
                 QString("Select all required fields and Click Start to proceed."));
        QVERIFY(control(ctl::Progress)->isHidden());
        QVERIFY(dialog->isVisible());
    }

    // The opt-in modes' boxes: clear at start-up, placed where they cover no other control, and
    // what they say reaches the run: reassembly (which implies exact ends), the check of the carved
    // files and a DFXML report, or the report alone of the unallocated space (all of it: the image
    // holds no file system).
    void optInModesReachTheRun_data() {
        QTest::addColumn<bool>("reportOnly");
        QTest::newRow("exact_ends_and_dfxml") << false;
        QTest::newRow("report_only") << true;
    }
    void optInModesReachTheRun() {
        QFETCH(bool, reportOnly);
        const int boxes[] = {ctl::ExactEnds,       ctl::WriteDfxml,          ctl::ReportOnly,
                             ctl::UnallocatedOnly, ctl::ReassembleFragments, ctl::VerifyFiles};
        for (int id : {ctl::ReassembleFragments, ctl::VerifyFiles}) {
            const int wanted = dialog->control<QCheckBox>(id)->sizeHint().width();
            QVERIFY2(wanted <= control(id)->width(),
                     qPrintable(QString("the caption needs %1 pixels").arg(wanted)));
        }
        for (int id : boxes) {
            auto* box = dialog->control<QCheckBox>(id);
            QVERIFY(!box->isChecked());
            for (int other : dialog->controlIds()) {
                QVERIFY2(other == id || !control(other)->geometry().intersects(box->geometry()),
                         qPrintable(control(other)->objectName()));
            }
        }
        const QString out = prepareRun(64);
        click(reportOnly ? ctl::ReportOnly : ctl::ReassembleFragments);
        if (!reportOnly) {
            click(ctl::VerifyFiles);
        }
        const bool unallocated = reportOnly && FileSystemReader::builtIn();
        if (unallocated) {
            click(ctl::UnallocatedOnly);
        }
        click(ctl::WriteDfxml);
        click(ctl::Ok);

        QVERIFY(!messages.empty());
        QVERIFY2(messages.back().text.contains(reportOnly ? "files found (report only" : "files carved: 1"),
                 qPrintable(messages.back().text));
        // A report-only run wrote no file to show.
        QCOMPARE(messages.back().extraButton.isEmpty(), reportOnly);
        const std::string folder = out.toStdString() + "/disk";
        QCOMPARE(test::fileExists(folder + "/disk~JPEGFile0.jpg"), !reportOnly);
        const std::string dfxml = test::readFile(folder + "/disk~Report.dfxml");
        QVERIFY(dfxml.find("disk~JPEGFile0.jpg</filename>") != std::string::npos);
        QVERIFY(dfxml.find(reportOnly ? "report only" : "exact file ends") != std::string::npos);
        QCOMPARE(dfxml.find("reassemble fragmented files") != std::string::npos, !reportOnly);
        QCOMPARE(dfxml.find("check that carved files open") != std::string::npos, !reportOnly);
        QCOMPARE(dfxml.find("<morrow:verdict state=\"opens\"/>") != std::string::npos, !reportOnly);
        QCOMPARE(dfxml.find("unallocated space only") != std::string::npos, unallocated);
        QCOMPARE(messages.back().text.contains("Unallocated space only: ") &&
                     messages.back().text.contains(": no file system; "),
                 unallocated);
        QCOMPARE(dfxml.find("<hashdigest type=\"md5\">") != dfxml.rfind("<hashdigest type=\"md5\">"),
                 !reportOnly);
        for (int id : boxes) {
            QVERIFY(!dialog->control<QCheckBox>(id)->isChecked());
        }
    }

    // Each button shows its picture pixel for pixel, at any device pixel ratio: ctest runs this
    // once more with QT_SCALE_FACTOR=2, where a plain picture blown up to twice its size would
    // show blurred or blocky instead of the @2x one.
    void picturesDrawnPixelForPixel() {
        const qreal ratio = dialog->devicePixelRatioF();
        const QString twin = ratio > 1 ? "@2x" : "";
        const std::pair<int, const char*> buttons[] = {{ctl::Ok, "start"},
                                                       {ctl::Stop, "stop"},
                                                       {ctl::Cancel, "quit"},
                                                       {ctl::Help, "help"},
                                                       {ctl::Add, "add"},
                                                       {ctl::Remove, "remove"},
                                                       {ctl::KindSelectAll, "select-all"},
                                                       {ctl::EvidenceDeselectAll, "deselect-all"}};
        for (const auto& [id, name] : buttons) {
            auto* button = dialog->control<ImageButton>(id);
            const QImage shot = button->grab().toImage();
            const QImage picture(QString(":/morrow/buttons/%1%2.png").arg(name, twin));
            QCOMPARE(shot.size(), button->size() * ratio);
            QCOMPARE(picture.size(), button->imageRect().size() * ratio);
            const QPoint at = button->imageRect().topLeft() * ratio;
            int differing = 0;
            for (int y = 0; y < picture.height(); ++y) {
                for (int x = 0; x < picture.width(); ++x) {
                    const QColor c = picture.pixelColor(x, y);
                    differing += c != QColor(255, 0, 255) && shot.pixelColor(at + QPoint(x, y)) != c;
                }
            }
            QVERIFY2(differing == 0, name);
        }
        const QPixmap banner = dialog->findChild<QLabel*>("banner")->pixmap();
        QCOMPARE(banner.devicePixelRatio(), ratio);
        QCOMPARE(banner.deviceIndependentSize(), QSizeF(517, 90));
    }

    void helpOpensTheGuideAtItsContents() {
        dialog->setHelpPath(MORROW_HELP_FILE);
        click(ctl::Help);
        QVERIFY(messages.empty());
        QVERIFY(dialog->helpWindow() != nullptr);
        QVERIFY(dialog->helpWindow()->isVisible());
        auto* browser = dialog->helpWindow()->findChild<QTextBrowser*>();
        QVERIFY(browser->toPlainText().contains("Contents"));
        click(ctl::Help); // one window, shown again
        QCOMPARE(dialog->findChildren<QTextBrowser*>().size(), 1);
    }

    void helpReportsAMissingFile() {
        const QString missing = QString::fromStdString(*temp / "Pellucid.hlp");
        dialog->setHelpPath(missing);
        click(ctl::Help);
        QCOMPARE(messages.size(), std::size_t{1});
        QVERIFY(messages[0].app);
        QVERIFY(messages[0].text.contains(missing));
        QCOMPARE(messages[0].style, 0x10);
        QVERIFY(dialog->helpWindow() == nullptr);
    }
};

QTEST_MAIN(MainDialogTest)
#include "MainDialogTest.moc"
