#include "MainDialog.h"

#include "Catalog.h"
#include "ImageButton.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QSettings>
#include <QtGui/QDropEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QRegularExpressionValidator>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QTreeWidget>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <climits>

static void initMorrowResources() { Q_INIT_RESOURCE(morrow); }

namespace morrow {

const char* const MainDialog::caption = "Morrow  - A Forensic Data Carving tool";
const char* const MainDialog::idleStatus = "Select all required fields and Click Start to proceed.";
const char* const MainDialog::evidenceFilter =
    "Evidence Files (*.P01);; All Files (*.*);; E01 and Split Raw Images (*.E01 *.e01 *.001 *.aa)";
const char* const MainDialog::folderTitle = "Choose Path for Carving Files";

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

// Position of `text` in a list kept in ascending order: case-blind first, so "disk" sorts beside
// "Disk", then exact, so the order is stable.
int sortedRow(const QStringList& rows, const QString& text) {
    auto less = [](const QString& a, const QString& b) {
        int c = QString::compare(a, b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    };
    int row = 0;
    while (row < rows.size() && !less(text, rows[row])) {
        ++row;
    }
    return row;
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

// Keys of the remembered settings.
const char* const carvingPathKey = "carvingPath";
const char* const evidenceFolderKey = "evidenceFolder";
const char* const kindsKey = "kinds";
const char* const allPictureFilesKey = "allPictureFiles";
const char* const maxFileSizeKey = "maxFileSizeKB";

// A remembered folder, or empty when it is gone or not a folder any more.
QString existingFolder(const QVariant& value) {
    const QString path = value.toString();
    return !path.isEmpty() && QFileInfo(path).isDir() ? path : QString();
}

QString defaultFolderChooser(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, QDir::rootPath(), QFileDialog::ShowDirsOnly);
}

} // namespace

// ---- SpinArrows ----

SpinArrows::SpinArrows(QLineEdit* buddy, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), buddy_(buddy), minimum_(minimum), maximum_(maximum) {
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    up_->setAutoRepeat(true);
    up_->setFocusPolicy(Qt::NoFocus);
    up_->setObjectName("up");
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    down_->setAutoRepeat(true);
    down_->setFocusPolicy(Qt::NoFocus);
    down_->setObjectName("down");
    connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
    buddy_->installEventFilter(this);
}

void SpinArrows::stepBy(int steps) {
    bool ok = false;
    long long value = buddy_->text().toLongLong(&ok);
    if (!ok) {
        value = minimum_;
    } else {
        value = std::clamp<long long>(value + steps, minimum_, maximum_);
    }
    buddy_->setText(QString::number(value));
}

bool SpinArrows::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            stepBy(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SpinArrows::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

// ---- ActivityClip ----

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

void ActivityClip::stop() { timer_.stop(); }

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

// ---- MainDialog ----

MainDialog::MainDialog(QWidget* parent) : QDialog(parent), host_(*this), engine_(host_) {
    initMorrowResources();
    host_.attach(engine_.state());
    fileChooser_ = defaultEvidenceChooser;
    folderChooser_ = defaultFolderChooser;
    helpPath_ = findHelpGuide(QCoreApplication::applicationDirPath());
    buildControls();
    initialise();
}

MainDialog::~MainDialog() = default;

void MainDialog::registerControl(int id, QWidget* widget) {
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    controls_.insert(id, widget);
    controlIds_.push_back(id);
}

void MainDialog::buildControls() {
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(QIcon(":/morrow/morrow.png"));
    // The layout was drawn for a small, narrow sans serif; a condensed face keeps the captions
    // inside their controls.
    QFont dialogFont = font();
    dialogFont.setPixelSize(11);
    dialogFont.setStretch(QFont::SemiCondensed);
    setFont(dialogFont);
    setFixedSize(du(0, 0, 342, 374).size());

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
    auto* kindDeselectAll = imageButton(ctl::KindDeselectAll, "&DeSelect All", du(259, 209, 67, 18), "deselect-all");

    // The opt-in modes sit where the form had room, so no control of the design moves: the exact
    // ends just above the settings, the two report modes beside Help.
    auto checkBox = [this](int id, const QString& text, const QString& tip, QRect r) {
        auto* box = new QCheckBox(text, this);
        box->setGeometry(r);
        box->setToolTip(tip);
        registerControl(id, box);
        return box;
    };
    exactEnds_ = checkBox(ctl::ExactEnds, "Exact file ends",
                          "End every file where its own structure ends, not at the first footer or the maximum size",
                          du(259, 229, 74, 13));
    writeDfxml_ = checkBox(ctl::WriteDfxml, "DFXML report with hashes",
                           "Also write STEM~Report.dfxml: every carved file with its MD5 and SHA-256, and the "
                           "evidence's own",
                           du(12, 352, 106, 13));
    reportOnly_ = checkBox(ctl::ReportOnly, "Report only",
                           "Find every file and write the report, but write no carved file", du(124, 352, 62, 13));

    sizeEdit_ = pathEdit(ctl::MaxFileSize, du(59, 254, 50, 13), false);
    sizeEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), sizeEdit_));
    auto* spin = new SpinArrows(sizeEdit_, 1, 10240, this);
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
        pal.setColor(QPalette::Disabled, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
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
    auto* evidenceSelectAll = imageButton(ctl::EvidenceSelectAll, "&Select All", du(259, 109, 67, 18), "select-all");
    auto* evidenceDeselectAll =
        imageButton(ctl::EvidenceDeselectAll, "&DeSelect All", du(259, 129, 67, 18), "deselect-all");
    backdrops.push_back(group(QString(), du(7, 293, 325, 52)));

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
    QWidget* order[] = {evidencePath_,  evidenceBrowse,    add,          remove,        kindList_,
                        allPictures_,   kindSelectAll,     kindDeselectAll, exactEnds_, sizeEdit_,
                        carvingPath_,   carvingBrowse,     writeDfxml_,  reportOnly_,   help,
                        start,          quit,              stop,         evidenceList_, evidenceSelectAll,
                        evidenceDeselectAll};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(start, &QPushButton::clicked, this, &MainDialog::startRun);
    connect(quit, &QPushButton::clicked, this, &MainDialog::reject);
    connect(stop, &QPushButton::clicked, this, &MainDialog::stopRun);
    connect(help, &QPushButton::clicked, this, &MainDialog::showHelp);
    connect(evidenceBrowse, &QPushButton::clicked, this, &MainDialog::browseEvidence);
    connect(evidencePath_, &QLineEdit::textChanged, this, &MainDialog::updateAddEnabled);
    connect(add, &QPushButton::clicked, this, &MainDialog::addEvidence);
    connect(evidenceList_, &QTreeWidget::itemChanged, this, &MainDialog::evidenceItemChanged);
    connect(remove, &QPushButton::clicked, this, &MainDialog::removeEvidence);
    connect(evidenceSelectAll, &QPushButton::clicked, this, [this] { setEvidenceTicks(true); });
    connect(evidenceDeselectAll, &QPushButton::clicked, this, [this] { setEvidenceTicks(false); });
    connect(kindSelectAll, &QPushButton::clicked, this, [this] { setKindTicks(true); });
    connect(kindDeselectAll, &QPushButton::clicked, this, [this] {
        engine_.state().allPictureFiles = 0;
        setKindTicks(false);
        allPictures_->setChecked(false);
    });
    connect(allPictures_, &QCheckBox::clicked, this, &MainDialog::allPictureFilesClicked);
    connect(carvingBrowse, &QPushButton::clicked, this, &MainDialog::browseCarvingPath);
}

void MainDialog::initialise() {
    control(ctl::Add)->setEnabled(false);
    control(ctl::Remove)->setEnabled(false);

    // Inserted at the top one by one; the list keeps itself in alphabetical order.
    for (const std::string& name : kindRowNames()) {
        QStringList rows;
        for (int i = 0; i < kindList_->count(); ++i) {
            rows << kindList_->item(i)->text();
        }
        const QString text = QString::fromStdString(name);
        auto* item = new QListWidgetItem(text);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        kindList_->insertItem(sortedRow(rows, text), item);
    }

    CarveState& st = engine_.state();
    st.stopRequested = 0;
    st.quitRequested = 0;
    st.carvingInProgress = 0;
    st.scanAborted = 0;

    progress_->hide();
    control(ctl::Stop)->setEnabled(false);
    st.maxFileSizeKB = 1024;
    status_->setText(idleStatus);
    exchangeToControls();
}

bool MainDialog::exchangeFromControls() {
    CarveState& st = engine_.state();
    bool ok = false;
    const QString sizeText = sizeEdit_->text().trimmed();
    const int value = sizeText.toInt(&ok, 10);
    if (!ok) {
        host_.showAppMessage("Please enter an integer.", style::Ok);
        sizeEdit_->setFocus();
        sizeEdit_->selectAll();
        return false;
    }
    st.maxFileSizeKB = value;
    st.carvingPath = carvingPath_->text().toStdString();
    st.allPictureFiles = allPictures_->isChecked() ? 1 : 0;
    st.exactEnds = exactEnds_->isChecked() ? 1 : 0;
    st.writeDfxml = writeDfxml_->isChecked() ? 1 : 0;
    st.reportOnly = reportOnly_->isChecked() ? 1 : 0;
    st.pendingEvidencePath = evidencePath_->text().toStdString();
    return true;
}

void MainDialog::exchangeToControls() {
    const CarveState& st = engine_.state();
    sizeEdit_->setText(QString::number(st.maxFileSizeKB));
    carvingPath_->setText(QString::fromStdString(st.carvingPath));
    allPictures_->setChecked(st.allPictureFiles != 0);
    exactEnds_->setChecked(st.exactEnds != 0);
    writeDfxml_->setChecked(st.writeDfxml != 0);
    reportOnly_->setChecked(st.reportOnly != 0);
    evidencePath_->setText(QString::fromStdString(st.pendingEvidencePath));
}

void MainDialog::resetForm() {
    CarveState& st = engine_.state();
    st.carvingPath.clear();
    st.pendingEvidencePath.clear();
    st.maxFileSizeKB = 1024;
    st.allPictureFiles = 0;
    st.exactEnds = 0;
    st.writeDfxml = 0;
    st.reportOnly = 0;
    progress_->hide();
    status_->setText(QString());
    status_->setText(idleStatus);
    setEvidenceTicks(false);
    setKindTicks(false);
    exchangeToControls();
}

void MainDialog::rememberIn(QSettings* settings) {
    settings->setParent(this);
    settings_ = settings;
    evidenceFolder_ = existingFolder(settings->value(evidenceFolderKey));

    CarveState& st = engine_.state();
    st.carvingPath = existingFolder(settings->value(carvingPathKey)).toStdString();
    bool ok = false;
    const int size = settings->value(maxFileSizeKey).toInt(&ok);
    const auto* spin = control<SpinArrows>(ctl::SizeSpin);
    if (ok && size >= spin->minimum() && size <= spin->maximum()) {
        st.maxFileSizeKB = size;
    }
    st.allPictureFiles = settings->value(allPictureFilesKey).toBool() ? 1 : 0;
    const QStringList kinds = settings->value(kindsKey).toStringList();
    for (int i = 0; i < kindList_->count(); ++i) {
        kindList_->item(i)->setCheckState(kinds.contains(kindList_->item(i)->text()) ? Qt::Checked : Qt::Unchecked);
    }
    exchangeToControls();
}

void MainDialog::remember(const char* key, const QVariant& value) {
    if (settings_ != nullptr) {
        settings_->setValue(key, value);
        settings_->sync();
    }
}

// The settings a run was started with; the form itself is reset when the run ends.
void MainDialog::rememberForm() {
    if (settings_ == nullptr) {
        return;
    }
    const CarveState& st = engine_.state();
    QStringList kinds;
    for (int i = 0; i < kindList_->count(); ++i) {
        if (kindList_->item(i)->checkState() == Qt::Checked) {
            kinds << kindList_->item(i)->text();
        }
    }
    settings_->setValue(kindsKey, kinds);
    settings_->setValue(allPictureFilesKey, st.allPictureFiles != 0);
    settings_->setValue(maxFileSizeKey, st.maxFileSizeKB);
    settings_->setValue(carvingPathKey, QString::fromStdString(st.carvingPath));
    settings_->sync();
}

void MainDialog::setRunMode(bool on) {
    runMode_ = on;
    if (on) {
        rememberForm();
        for (int id : {ctl::EvidencePath, ctl::EvidenceBrowse, ctl::EvidenceList, ctl::Add, ctl::Remove, ctl::KindList,
                       ctl::AllPictureFiles, ctl::KindSelectAll, ctl::KindDeselectAll, ctl::EvidenceSelectAll,
                       ctl::EvidenceDeselectAll, ctl::MaxFileSize, ctl::SizeSpin, ctl::CarvingPath,
                       ctl::CarvingBrowse, ctl::Progress, ctl::Ok, ctl::ExactEnds, ctl::WriteDfxml, ctl::ReportOnly}) {
            control(id)->setEnabled(false);
        }
        control(ctl::Stop)->setEnabled(true);
    } else {
        for (int id : {ctl::EvidencePath, ctl::EvidenceBrowse, ctl::EvidenceList, ctl::KindList, ctl::AllPictureFiles,
                       ctl::KindSelectAll, ctl::KindDeselectAll, ctl::MaxFileSize, ctl::SizeSpin, ctl::CarvingPath,
                       ctl::CarvingBrowse, ctl::Progress, ctl::Ok, ctl::ExactEnds, ctl::WriteDfxml, ctl::ReportOnly}) {
            control(id)->setEnabled(true);
        }
        control(ctl::Stop)->setEnabled(false);
        control(ctl::EvidenceSelectAll)->setEnabled(true);
        control(ctl::EvidenceDeselectAll)->setEnabled(true);
    }
}

// What the DFXML report's creator says of this run: the program and, as the dialog has no
// command line, its settings in words.
void MainDialog::describeRun() {
    CarveState& st = engine_.state();
    st.programVersion = QCoreApplication::applicationVersion().toStdString();
    QStringList kinds;
    for (int i = 0; i < kindList_->count(); ++i) {
        if (kindList_->item(i)->checkState() == Qt::Checked) {
            kinds << kindList_->item(i)->text();
        }
    }
    QString text = QStringLiteral("morrow (dialog): kinds: %1; maximum size: %2 KB; carving path: %3")
                       .arg(kinds.join(", "), sizeEdit_->text(), carvingPath_->text());
    if (exactEnds_->isChecked()) {
        text += "; exact file ends";
    }
    if (writeDfxml_->isChecked()) {
        text += "; DFXML report with hashes";
    }
    if (reportOnly_->isChecked()) {
        text += "; report only";
    }
    st.invocation = text.toStdString();
}

void MainDialog::startRun() {
    if (running_) {
        return; // Start is disabled in run mode; this only guards against a queued click
    }
    running_ = true;
    endRequested_ = false;
    describeRun();
    engine_.startRun();
    running_ = false;
    if (endRequested_) {
        endRequested_ = false;
        QDialog::reject();
    }
}

void MainDialog::stopRun() { engine_.state().stopRequested = 1; }

void MainDialog::reject() {
    CarveState& st = engine_.state();
    if (st.carvingInProgress == 1) {
        st.quitRequested = 1;
        return;
    }
    if (running_) {
        // A run is winding up (summary on screen): end as soon as it returns.
        endRequested_ = true;
        return;
    }
    QDialog::reject();
}

void MainDialog::browseEvidence() {
    const QString chosen = fileChooser_(this, evidenceFilter, evidenceFolder_);
    if (!chosen.isEmpty()) {
        engine_.state().pendingEvidencePath = chosen.toStdString();
        evidencePath_->setText(chosen);
        evidenceFolder_ = QFileInfo(chosen).absolutePath();
        remember(evidenceFolderKey, evidenceFolder_);
    }
    updateAddEnabled();
}

void MainDialog::updateAddEnabled() {
    engine_.state().pendingEvidencePath = evidencePath_->text().toStdString();
    control(ctl::Add)->setEnabled(!evidencePath_->text().isEmpty() && !runMode_);
}

void MainDialog::addEvidence() {
    CarveState& st = engine_.state();
    listEvidence(QString::fromStdString(st.pendingEvidencePath));
    st.pendingEvidencePath.clear();
    evidencePath_->clear();
    control(ctl::Add)->setEnabled(false);
}

void MainDialog::addEvidenceFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        listEvidence(path);
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
        if (!runMode_ && !droppedFiles(drag->mimeData()).isEmpty()) {
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
        if (runMode_ || files.isEmpty()) {
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
                if (!runMode_) {
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

void MainDialog::listEvidence(const QString& path) {
    QStringList rows;
    bool listed = false;
    for (int i = 0; i < evidenceList_->topLevelItemCount(); ++i) {
        rows << evidenceList_->topLevelItem(i)->text(0);
        listed = listed || rows.back() == path;
    }
    if (listed) {
        host_.showMessage("Evidence is already selected.", CarveEngine::warningTitle, style::OkExclamation);
    } else if (!path.isEmpty()) {
        auto* item = new QTreeWidgetItem(QStringList{path});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setToolTip(0, path);
        evidenceList_->insertTopLevelItem(sortedRow(rows, path), item);
    }
}

void MainDialog::evidenceItemChanged() {
    bool anyTicked = false;
    for (int i = 0; i < evidenceList_->topLevelItemCount(); ++i) {
        anyTicked = anyTicked || evidenceList_->topLevelItem(i)->checkState(0) == Qt::Checked;
    }
    control(ctl::Remove)->setEnabled(anyTicked && !runMode_);
}

void MainDialog::removeEvidence() {
    for (int i = evidenceList_->topLevelItemCount() - 1; i >= 0; --i) {
        if (evidenceList_->topLevelItem(i)->checkState(0) == Qt::Checked) {
            delete evidenceList_->takeTopLevelItem(i);
        }
    }
    control(ctl::Remove)->setEnabled(false);
}

void MainDialog::setEvidenceTicks(bool ticked) {
    for (int i = 0; i < evidenceList_->topLevelItemCount(); ++i) {
        evidenceList_->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    }
    evidenceItemChanged();
}

void MainDialog::setKindTicks(bool ticked) {
    for (int i = 0; i < kindList_->count(); ++i) {
        kindList_->item(i)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

void MainDialog::allPictureFilesClicked(bool checked) {
    engine_.state().allPictureFiles = checked ? 1 : 0;
    setKindTicks(false);
    if (!checked) {
        return;
    }
    for (int i = 0; i < kindList_->count(); ++i) {
        const std::string text = kindList_->item(i)->text().toStdString();
        const auto& pictures = pictureRowNames();
        if (std::find(pictures.begin(), pictures.end(), text) != pictures.end()) {
            kindList_->item(i)->setCheckState(Qt::Checked);
        }
    }
}

void MainDialog::browseCarvingPath() {
    const QString chosen = folderChooser_(this, folderTitle);
    if (!chosen.isEmpty()) {
        engine_.state().carvingPath = chosen.toStdString();
        carvingPath_->setText(chosen);
        remember(carvingPathKey, chosen);
    }
}

QString MainDialog::findHelpGuide(const QString& programDir) {
    const QDir dir(programDir);
    const QString beside = dir.filePath("Pellucid.hlp");
    if (QFileInfo(beside).isFile()) {
        return beside;
    }
    // MORROW_GUIDE_FROM_PROGRAM is the install's data folder seen from its program folder
    // ("../share/morrow"), so an installed tree can be moved, or staged under DESTDIR, as a whole.
    return QDir::cleanPath(dir.filePath(QStringLiteral(MORROW_GUIDE_FROM_PROGRAM "/Pellucid.hlp")));
}

void MainDialog::showHelp() {
    QFile file(helpPath_);
    if (!file.open(QIODevice::ReadOnly)) {
        host_.showAppMessage("The help file could not be opened:\n" + QDir::toNativeSeparators(helpPath_).toStdString() +
                                 "\n" + file.errorString().toStdString(),
                             style::OkStop);
        return;
    }
    const QString html = QString::fromUtf8(file.readAll());
    if (!helpWindow_) {
        auto* window = new QWidget(this, Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setObjectName("helpWindow");
        window->setWindowTitle("Morrow Help");
        window->resize(560, 520);
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* browser = new QTextBrowser(window);
        browser->setObjectName("helpBrowser");
        browser->setOpenExternalLinks(true);
        layout->addWidget(browser);
        helpWindow_ = window;
    }
    auto* browser = helpWindow_->findChild<QTextBrowser*>("helpBrowser");
    browser->setSearchPaths({QFileInfo(helpPath_).absolutePath()});
    browser->setHtml(html);
    browser->scrollToAnchor("contents");
    helpWindow_->show();
    helpWindow_->raise();
}

} // namespace morrow
