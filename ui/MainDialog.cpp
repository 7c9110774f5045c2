#include "MainDialog.h"

#include "ActivityClip.h"
#include "FormRules.h"
#include "HelpGuide.h"
#include "HelpWindow.h"
#include "ImageButton.h"
#include "QtSettingsStore.h"
#include "SpinArrows.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QSettings>
#include <QtGui/QDropEvent>
#include <QtGui/QRegularExpressionValidator>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTreeWidget>

#include <algorithm>

static void initMorrowResources() {
    Q_INIT_RESOURCE(morrow);
}

namespace morrow {

const char* const MainDialog::evidenceFilter =
    "Evidence Files (*.P01);; All Files (*);; E01 and Split Raw Images (*.E01 *.e01 *.001 *.aa)";

namespace {

// The layout is kept in dialog units, the way the window was designed; one unit is 1.5 pixels
// across and 1.625 down, which shows the 517 by 90 pixel banner over its 345 by 55 units.
QRect du(int x, int y, int w, int h) {
    auto px = [](int v) { return (v * 3 + 1) / 2; };
    auto py = [](int v) { return (v * 13 + 4) / 8; };
    return QRect(px(x), py(y), px(w), py(h));
}

const QColor editBackColor(230, 255, 250);
const QColor listBackColor(230, 250, 250);
const QColor maskColor(255, 0, 255);

// The lists' order: letter case ignored first, so "disk" sorts beside "Disk", then exact, so the
// order is stable; compared as Qt compares its own strings.
bool rowBefore(const std::string& a, const std::string& b) {
    const QString x = QString::fromStdString(a);
    const QString y = QString::fromStdString(b);
    const int c = QString::compare(x, y, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : QString::compare(x, y, Qt::CaseSensitive) < 0;
}

QPalette withBase(QPalette pal, const QColor& color) {
    pal.setColor(QPalette::Base, color);
    pal.setColor(QPalette::Disabled, QPalette::Base, color);
    return pal;
}

// The files among dropped data that can be listed as evidence: local, and not folders.
QStringList droppedFiles(const QMimeData* data) {
    QStringList files;
    if (data == nullptr) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir()) {
            files << QDir::cleanPath(url.toLocalFile());
        }
    }
    return files;
}

QString defaultEvidenceChooser(QWidget* owner, const QString& filter, const QString& folder) {
    return QFileDialog::getOpenFileName(owner, QString(), folder, filter);
}

QString defaultFolderChooser(QWidget* owner, const QString& title, const QString& folder) {
    return QFileDialog::getExistingDirectory(owner, title, folder, QFileDialog::ShowDirsOnly);
}

} // namespace

MainDialog::MainDialog(QWidget* parent)
    : QDialog(parent), host_(*this), engine_(host_), model_(engine_.state()) {
    initMorrowResources();
    host_.attach(engine_.state());
    model_.evidence().setOrder(rowBefore);
    fileChooser_ = defaultEvidenceChooser;
    folderChooser_ = defaultFolderChooser;
    model_.setEvidenceCheck(DialogModel::evidenceOpenFailure);
    helpPath_ = findHelpGuide(QCoreApplication::applicationDirPath());
    buildControls();
    initialise();
}

MainDialog::~MainDialog() {
    // The gallery shows the host's list of files, which goes before the dialog's child windows.
    delete galleryWindow_;
}

void MainDialog::registerControl(int id, QWidget* widget) {
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    controls_.insert(id, widget);
    controlIds_.push_back(id);
}

void MainDialog::buildControls() {
    setWindowTitle(DialogModel::caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(QIcon(":/morrow/morrow.png"));
    // The layout was drawn for a small, narrow sans serif; a condensed face keeps the captions
    // inside their controls.
    QFont dialogFont = font();
    dialogFont.setPixelSize(11);
    dialogFont.setStretch(QFont::SemiCondensed);
    setFont(dialogFont);
    setFixedSize(du(0, 0, 342, 398).size());

    auto label = [this](const QString& text, QRect r) {
        auto* l = new QLabel(text, this);
        l->setGeometry(r);
        return l;
    };
    auto group = [this](const QString& text, QRect r) {
        auto* g = new QGroupBox(text, this);
        g->setGeometry(r);
        g->setFocusPolicy(Qt::NoFocus);
        return g;
    };
    auto plainButton = [this](int id, const QString& text, QRect r) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(r);
        b->setAutoDefault(false);
        registerControl(id, b);
        return b;
    };
    auto imageButton = [this](int id, const QString& text, QRect r, const char* picture) {
        auto* b = new ImageButton(text, this);
        b->setGeometry(r);
        b->setAutoDefault(false);
        b->setLayoutFlags(ImageButton::WithText | ImageButton::ImageRight | ImageButton::ImageVCenter);
        const QString path = QStringLiteral(":/morrow/buttons/%1.png").arg(picture);
        b->setBitmaps(path, path, maskColor);
        registerControl(id, b);
        return b;
    };
    auto pathEdit = [this](int id, QRect r, bool readOnly) {
        auto* e = new QLineEdit(this);
        e->setGeometry(r);
        e->setReadOnly(readOnly);
        e->setPalette(withBase(e->palette(), editBackColor));
        registerControl(id, e);
        return e;
    };

    // Template order, which is also the tab order.
    evidencePath_ = pathEdit(ctl::EvidencePath, du(17, 68, 218, 17), true);
    auto* evidenceBrowse = plainButton(ctl::EvidenceBrowse, "...", du(237, 68, 18, 16));
    auto* add = imageButton(ctl::Add, "&Add", du(259, 68, 67, 19), "add");
    auto* remove = imageButton(ctl::Remove, "&Remove", du(259, 89, 67, 18), "remove");

    kindList_ = new QListWidget(this);
    kindList_->setGeometry(du(17, 163, 219, 77));
    kindList_->setViewMode(QListView::ListMode);
    kindList_->setFlow(QListView::TopToBottom);
    kindList_->setWrapping(true);
    kindList_->setResizeMode(QListView::Adjust);
    kindList_->setSelectionMode(QAbstractItemView::SingleSelection);
    kindList_->setPalette(withBase(kindList_->palette(), listBackColor));
    registerControl(ctl::KindList, kindList_);

    allPictures_ = new QCheckBox("All Picture Files", this);
    // A little wider than drawn, so the caption is not cut short.
    allPictures_->setGeometry(du(265, 168, 66, 15));
    registerControl(ctl::AllPictureFiles, allPictures_);

    auto* kindSelectAll = imageButton(ctl::KindSelectAll, "&Select All", du(259, 187, 67, 18), "select-all");
    auto* kindDeselectAll =
        imageButton(ctl::KindDeselectAll, "&DeSelect All", du(259, 209, 67, 18), "deselect-all");

    // The opt-in modes sit where the form had room, so no control of the design moves: the exact
    // ends just above the settings, the two report modes beside Help, and below them (where the
    // dialog grew) the unallocated space, reassembly and the check of the carved files.
    auto checkBox = [this](int id, const QString& text, const QString& tip, QRect r) {
        auto* box = new QCheckBox(text, this);
        box->setGeometry(r);
        box->setToolTip(tip);
        registerControl(id, box);
        return box;
    };
    exactEnds_ =
        checkBox(ctl::ExactEnds, "Exact file ends",
                 "End every file where its own structure ends, not at the first footer or the maximum size",
                 du(259, 229, 74, 13));
    writeDfxml_ =
        checkBox(ctl::WriteDfxml, "DFXML report with hashes",
                 "Also write STEM~Report.dfxml: every carved file with its MD5 and SHA-256, and the "
                 "evidence's own",
                 du(12, 352, 106, 13));
    reportOnly_ =
        checkBox(ctl::ReportOnly, "Report only",
                 "Find every file and write the report, but write no carved file", du(124, 352, 62, 13));
    unallocatedOnly_ =
        checkBox(ctl::UnallocatedOnly, "Unallocated space only",
                 "Carve only files whose first sector no file system allocates: deleted files, free "
                 "space and space outside the partitions",
                 du(12, 367, 100, 13));
    reassembleFragments_ =
        checkBox(ctl::ReassembleFragments, "Reassemble fragmented files",
                 "Exact file ends, and a file that breaks after a sound start is searched for where it "
                 "goes on and carved in its pieces when its format proves the join",
                 du(12, 382, 120, 13));
    verifyFiles_ = checkBox(ctl::VerifyFiles, "Check that carved files open",
                            "Decode every carved file with a library made for its format: each opens, is "
                            "damaged (the first fault and where it is) or is not checked; the verdicts go "
                            "to the DFXML report",
                            du(138, 382, 126, 13));
    // At the end of the last row, under Quit: the gallery of what the last run carved.
    auto* showFiles = plainButton(ctl::ShowCarvedFiles, "Gallery", du(268, 380, 57, 16));
    showFiles->setToolTip("The carved files of the last run as pictures, with whether each one opens");

    sizeEdit_ = pathEdit(ctl::MaxFileSize, du(59, 254, 50, 13), false);
    sizeEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), sizeEdit_));
    auto* spin = new SpinArrows(sizeEdit_, form::minimumFileSizeKB, form::maximumFileSizeKB, this);
    spin->setGeometry(du(112, 254, 11, 13));
    registerControl(ctl::SizeSpin, spin);

    carvingPath_ = pathEdit(ctl::CarvingPath, du(59, 271, 175, 15), true);
    auto* carvingBrowse = plainButton(ctl::CarvingBrowse, "...", du(238, 272, 18, 16));
    auto* help = imageButton(ctl::Help, "&Help", du(216, 348, 54, 21), "help");
    auto* start = imageButton(ctl::Ok, "&Start", du(273, 300, 52, 21), "start");
    auto* quit = imageButton(ctl::Cancel, "&Quit", du(273, 348, 52, 21), "quit");
    auto* stop = imageButton(ctl::Stop, "&Stop", du(273, 322, 52, 21), "stop");
    start->setDefault(true);

    label("Carving Path:", du(15, 272, 43, 10));
    label("KB", du(126, 255, 14, 10));
    label("Max file Size:", du(16, 256, 43, 9));
    std::vector<QWidget*> backdrops;
    backdrops.push_back(group("Select file types to carve: ", du(7, 152, 326, 92)));

    evidenceList_ = new QTreeWidget(this);
    evidenceList_->setGeometry(du(17, 88, 218, 57));
    evidenceList_->setColumnCount(1);
    evidenceList_->setHeaderLabels({"Evidence File Path"});
    evidenceList_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    evidenceList_->header()->setStretchLastSection(false);
    evidenceList_->setColumnWidth(0, 320);
    evidenceList_->setRootIsDecorated(false);
    evidenceList_->setItemsExpandable(false);
    evidenceList_->setUniformRowHeights(true);
    evidenceList_->setPalette(withBase(evidenceList_->palette(), listBackColor));
    registerControl(ctl::EvidenceList, evidenceList_);
    // Files dragged from a file manager land on the list's viewport; eventFilter takes them.
    evidenceList_->viewport()->setAcceptDrops(true);
    evidenceList_->viewport()->installEventFilter(this);

    progress_ = new QProgressBar(this);
    progress_->setGeometry(du(11, 326, 229, 14));
    progress_->setTextVisible(false);
    {
        // Run mode disables the bar; it should still show how far the scan has come.
        QPalette pal = progress_->palette();
        pal.setColor(QPalette::Disabled, QPalette::Highlight,
                     pal.color(QPalette::Active, QPalette::Highlight));
        progress_->setPalette(pal);
    }
    registerControl(ctl::Progress, progress_);

    QFont statusFont("Times New Roman");
    statusFont.setStyleHint(QFont::Serif);
    statusFont.setPixelSize(16);
    statusFont.setBold(true);
    status_ = label(QString(), du(14, 301, 225, 23));
    status_->setFont(statusFont);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    registerControl(ctl::Status, status_);

    backdrops.push_back(group("Settings", du(7, 245, 326, 48)));
    label("(This is applicable only for the unknown file size)", du(140, 254, 186, 10));
    auto* evidenceSelectAll =
        imageButton(ctl::EvidenceSelectAll, "&Select All", du(259, 109, 67, 18), "select-all");
    auto* evidenceDeselectAll =
        imageButton(ctl::EvidenceDeselectAll, "&DeSelect All", du(259, 129, 67, 18), "deselect-all");
    // The frame of the status area has no caption of its own: a run writes its overall line
    // there, which moves no control.
    statusArea_ = group(QString(), du(7, 293, 325, 52));
    statusArea_->setObjectName("statusArea");
    backdrops.push_back(statusArea_);

    percent_ = label(QString(), du(244, 325, 26, 14));
    percent_->setFont(statusFont);
    registerControl(ctl::Percent, percent_);

    clip_ = new ActivityClip(this);
    clip_->setGeometry(du(261, 269, 42, 23));
    registerControl(ctl::Animation, clip_);

    auto* banner = new QLabel(this);
    banner->setPixmap(QPixmap(pictureForScreen(":/morrow/banner.png")));
    banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    banner->setGeometry(QRect(du(0, 0, 0, 0).topLeft(), QSize(517, 90)));
    banner->setObjectName("banner");
    backdrops.push_back(banner);
    backdrops.push_back(group("Select Evidence :", du(7, 57, 325, 93)));

    // Group boxes frame the controls: they must stay behind them and never take their clicks.
    for (QWidget* w : backdrops) {
        w->lower();
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    // Tab order as the template lists the controls.
    QWidget* order[] = {evidencePath_,
                        evidenceBrowse,
                        add,
                        remove,
                        kindList_,
                        allPictures_,
                        kindSelectAll,
                        kindDeselectAll,
                        exactEnds_,
                        sizeEdit_,
                        carvingPath_,
                        carvingBrowse,
                        writeDfxml_,
                        reportOnly_,
                        unallocatedOnly_,
                        reassembleFragments_,
                        verifyFiles_,
                        showFiles,
                        help,
                        start,
                        quit,
                        stop,
                        evidenceList_,
                        evidenceSelectAll,
                        evidenceDeselectAll};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(start, &QPushButton::clicked, this, &MainDialog::startRun);
    connect(quit, &QPushButton::clicked, this, &MainDialog::reject);
    connect(stop, &QPushButton::clicked, this, [this] { model_.run().stop(); });
    connect(help, &QPushButton::clicked, this, &MainDialog::showHelp);
    connect(showFiles, &QPushButton::clicked, this, &MainDialog::showCarvedFiles);
    connect(evidenceBrowse, &QPushButton::clicked, this, &MainDialog::browseEvidence);
    connect(evidencePath_, &QLineEdit::textChanged, this, &MainDialog::updateAddEnabled);
    connect(add, &QPushButton::clicked, this, &MainDialog::addEvidence);
    connect(evidenceList_, &QTreeWidget::itemChanged, this, &MainDialog::evidenceItemChanged);
    connect(kindList_, &QListWidget::itemChanged, this, &MainDialog::kindItemChanged);
    connect(remove, &QPushButton::clicked, this, &MainDialog::removeEvidence);
    connect(evidenceSelectAll, &QPushButton::clicked, this, [this] {
        model_.evidence().setAllTicked(true);
        showEvidenceTicks();
    });
    connect(evidenceDeselectAll, &QPushButton::clicked, this, [this] {
        model_.evidence().setAllTicked(false);
        showEvidenceTicks();
    });
    connect(kindSelectAll, &QPushButton::clicked, this, [this] {
        model_.kinds().setAllTicked(true);
        showKindTicks();
    });
    connect(kindDeselectAll, &QPushButton::clicked, this, [this] {
        model_.deselectAllKinds();
        showKindTicks();
        allPictures_->setChecked(false);
    });
    connect(allPictures_, &QCheckBox::clicked, this, &MainDialog::allPictureFilesClicked);
    connect(carvingBrowse, &QPushButton::clicked, this, &MainDialog::browseCarvingPath);
}

void MainDialog::initialise() {
    control(ctl::Add)->setEnabled(false);
    control(ctl::Remove)->setEnabled(false);

    // The model keeps the kinds in the list's order.
    for (const CheckList::Row& row : model_.kinds().rows()) {
        auto* item = new QListWidgetItem(QString::fromStdString(row.text));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        kindList_->addItem(item);
    }

    progress_->hide();
    control(ctl::Stop)->setEnabled(false);
    control(ctl::ShowCarvedFiles)->setEnabled(false);
    status_->setText(DialogModel::idleStatus);
    exchangeToControls();
}

FormValues MainDialog::shownForm() const {
    FormValues shown;
    shown.maxFileSize = sizeEdit_->text().toStdString();
    shown.carvingPath = carvingPath_->text().toStdString();
    shown.evidencePath = evidencePath_->text().toStdString();
    shown.allPictureFiles = allPictures_->isChecked();
    shown.exactEnds = exactEnds_->isChecked();
    shown.writeDfxml = writeDfxml_->isChecked();
    shown.reportOnly = reportOnly_->isChecked();
    shown.unallocatedOnly = unallocatedOnly_->isChecked();
    shown.reassembleFragments = reassembleFragments_->isChecked();
    shown.verifyFiles = verifyFiles_->isChecked();
    return shown;
}

bool MainDialog::exchangeFromControls() {
    if (!model_.readForm(shownForm())) {
        host_.showAppMessage(DialogModel::integerWanted, style::Ok);
        sizeEdit_->setFocus();
        sizeEdit_->selectAll();
        return false;
    }
    return true;
}

void MainDialog::exchangeToControls() {
    const FormValues shown = model_.form();
    sizeEdit_->setText(QString::fromStdString(shown.maxFileSize));
    carvingPath_->setText(QString::fromStdString(shown.carvingPath));
    allPictures_->setChecked(shown.allPictureFiles);
    exactEnds_->setChecked(shown.exactEnds);
    writeDfxml_->setChecked(shown.writeDfxml);
    reportOnly_->setChecked(shown.reportOnly);
    unallocatedOnly_->setChecked(shown.unallocatedOnly);
    reassembleFragments_->setChecked(shown.reassembleFragments);
    verifyFiles_->setChecked(shown.verifyFiles);
    evidencePath_->setText(QString::fromStdString(shown.evidencePath));
}

void MainDialog::resetForm() {
    model_.resetForm();
    progress_->hide();
    status_->setText(QString());
    status_->setText(DialogModel::idleStatus);
    showEvidenceTicks();
    showKindTicks();
    exchangeToControls();
}

void MainDialog::rememberIn(QSettings* settings) {
    settings->setParent(this);
    settings_ = std::make_unique<QtSettingsStore>(*settings);
    model_.rememberIn(settings_.get());
    showKindTicks();
    exchangeToControls();
}

void MainDialog::setRunMode(bool on) {
    for (const EnableChange& change : model_.setRunMode(on)) {
        control(change.id)->setEnabled(change.enabled);
    }
    // Leaving run mode is the end of a run: its files can be shown from then on.
    control(ctl::ShowCarvedFiles)->setEnabled(!on);
}

void MainDialog::showOverall(const QString& text) {
    statusArea_->setTitle(text);
}

void MainDialog::startRun() {
    // Nothing is made for a run whose evidence has gone since it was listed.
    if (const std::string failure = model_.listedEvidenceFailure(); !failure.empty()) {
        host_.showAppMessage(failure, style::OkStop);
        return;
    }
    if (!model_.run().start()) {
        return;
    }
    model_.describeRun(shownForm(), QCoreApplication::applicationVersion().toStdString());
    host_.carvedFiles().clear();
    engine_.startRun();
    if (model_.run().finish()) {
        QDialog::reject();
        return;
    }
    if (host_.takeGalleryRequest()) {
        showCarvedFiles();
    }
}

void MainDialog::setFileOpener(FileOpener opener) {
    fileOpener_ = std::move(opener);
    if (galleryWindow_) {
        galleryWindow_->setOpener(fileOpener_);
    }
}

void MainDialog::showCarvedFiles() {
    if (!galleryWindow_) {
        galleryWindow_ = new GalleryWindow(host_.carvedFiles(), this);
        if (fileOpener_) {
            galleryWindow_->setOpener(fileOpener_);
        }
    }
    // Without the run's own check, the gallery checks the files itself as it shows them.
    host_.carvedFiles().checkUnchecked();
    galleryWindow_->show();
    galleryWindow_->raise();
    galleryWindow_->activateWindow();
}

void MainDialog::reject() {
    if (model_.run().quit() == RunControl::Quit::Now) {
        QDialog::reject();
    }
}

void MainDialog::browseEvidence() {
    // The last folder evidence came from, else the home folder.
    const QString chosen =
        fileChooser_(this, evidenceFilter, evidenceFolder().isEmpty() ? QDir::homePath() : evidenceFolder());
    if (!chosen.isEmpty()) {
        model_.chooseEvidence(chosen.toStdString());
        evidencePath_->setText(chosen);
    }
    updateAddEnabled();
}

void MainDialog::updateAddEnabled() {
    model_.setPendingEvidence(evidencePath_->text().toStdString());
    control(ctl::Add)->setEnabled(model_.addEnabled());
}

void MainDialog::addEvidence() {
    const QString path = QString::fromStdString(engine_.state().pendingEvidencePath);
    showListed(model_.addPendingEvidence(), path);
    evidencePath_->clear();
    control(ctl::Add)->setEnabled(false);
}

void MainDialog::addEvidenceFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        showListed(model_.listEvidence(path.toStdString()), path);
    }
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched != evidenceList_->viewport()) {
        return QDialog::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // QDragEnterEvent derives from QDragMoveEvent, which derives from QDropEvent.
        auto* drag = static_cast<QDropEvent*>(event);
        if (!model_.runMode() && !droppedFiles(drag->mimeData()).isEmpty()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = droppedFiles(drop->mimeData());
        if (model_.runMode() || files.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // Listed once the drop is over: a duplicate's warning box must not keep the file manager
        // waiting for the end of its drag.
        QMetaObject::invokeMethod(
            this,
            [this, files] {
                if (!model_.runMode()) {
                    addEvidenceFiles(files);
                }
            },
            Qt::QueuedConnection);
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void MainDialog::showListed(const DialogModel::Listed& listed, const QString& path) {
    if (listed.outcome == DialogModel::Listing::AlreadyListed) {
        host_.showMessage(DialogModel::alreadyListed, CarveEngine::warningTitle, style::OkExclamation);
    } else if (listed.outcome == DialogModel::Listing::CannotOpen) {
        host_.showAppMessage(listed.failure, style::OkStop);
    } else if (listed.outcome == DialogModel::Listing::Added) {
        auto* item = new QTreeWidgetItem(QStringList{path});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setToolTip(0, path);
        evidenceList_->insertTopLevelItem(listed.row, item);
    }
}

void MainDialog::evidenceItemChanged(QTreeWidgetItem* item) {
    model_.evidence().setTicked(evidenceList_->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
    control(ctl::Remove)->setEnabled(model_.removeEnabled());
}

void MainDialog::kindItemChanged(QListWidgetItem* item) {
    model_.kinds().setTicked(kindList_->row(item), item->checkState() == Qt::Checked);
}

void MainDialog::removeEvidence() {
    for (int row : model_.evidence().removeTicked()) {
        delete evidenceList_->takeTopLevelItem(row);
    }
    control(ctl::Remove)->setEnabled(false);
}

void MainDialog::showEvidenceTicks() {
    const auto& rows = model_.evidence().rows();
    for (int i = 0; i < evidenceList_->topLevelItemCount(); ++i) {
        evidenceList_->topLevelItem(i)->setCheckState(
            0, rows[static_cast<std::size_t>(i)].ticked ? Qt::Checked : Qt::Unchecked);
    }
    control(ctl::Remove)->setEnabled(model_.removeEnabled());
}

void MainDialog::showKindTicks() {
    const auto& rows = model_.kinds().rows();
    for (int i = 0; i < kindList_->count(); ++i) {
        kindList_->item(i)->setCheckState(rows[static_cast<std::size_t>(i)].ticked ? Qt::Checked
                                                                                   : Qt::Unchecked);
    }
}

void MainDialog::allPictureFilesClicked(bool checked) {
    model_.setAllPictureFiles(checked);
    showKindTicks();
}

void MainDialog::browseCarvingPath() {
    // The carving path shown, else the home folder.
    const QString shown = carvingPath_->text();
    const QString chosen = folderChooser_(
        this, DialogModel::folderTitle, !shown.isEmpty() && QDir(shown).exists() ? shown : QDir::homePath());
    if (!chosen.isEmpty()) {
        model_.chooseCarvingPath(chosen.toStdString());
        carvingPath_->setText(chosen);
    }
}

QString MainDialog::findHelpGuide(const QString& programDir) {
    return QString::fromStdString(morrow::findHelpGuide(programDir.toStdString()));
}

QWidget* MainDialog::helpWindow() const {
    return helpWindow_;
}

void MainDialog::showHelp() {
    QFile file(helpPath_);
    if (!file.open(QIODevice::ReadOnly)) {
        host_.showAppMessage(helpGuideUnreadable(QDir::toNativeSeparators(helpPath_).toStdString(),
                                                 file.errorString().toStdString()),
                             style::OkStop);
        return;
    }
    const QString html = QString::fromUtf8(file.readAll());
    if (!helpWindow_) {
        helpWindow_ = new HelpWindow(this);
    }
    helpWindow_->showGuide(html, QFileInfo(helpPath_).absolutePath());
}

} // namespace morrow
