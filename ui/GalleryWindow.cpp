#include "GalleryWindow.h"

#include "box/Worker.h"
#include "platform/ChildProcess.h"
#include "verify/CheckBasics.h"

#include <QtCore/QBuffer>
#include <QtCore/QCoreApplication>
#include <QtCore/QFile>

#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtCore/QMutex>
#include <QtCore/QUrl>
#include <QtGui/QDesktopServices>
#include <QtGui/QImageReader>
#include <QtGui/QImageWriter>
#include <QtGui/QPainter>
#include <QtGui/QShortcut>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListView>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyledItemDelegate>
#include <QtWidgets/QVBoxLayout>

#ifdef MORROW_WITH_POPPLER
#include <poppler-qt6.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

namespace morrow {

namespace {

// Side of a thumbnail's square in logical pixels, and what the cache may hold: 32 MiB is some
// 500 thumbnails at a device pixel ratio of 1, several screens full.
constexpr int thumbnailSide = 128;
constexpr int cacheKiB = 32 * 1024;

bool drawsThumbnail(FileTypeId type) {
    switch (type) {
    case kind::Bmp:
    case kind::Gif:
    case kind::Jpeg:
    case kind::Tiff:
    case kind::Png:
    case kind::Psd:
    case kind::Pdf:
        return true;
    default:
        return false;
    }
}

QImage firstPdfPage(const QByteArray& bytes, QSize box) {
#ifdef MORROW_WITH_POPPLER
    // One page at a time: a carved PDF is hostile input, and poppler's global state is safest
    // entered by one thread.
    static QMutex oneAtATime;
    QMutexLocker lock(&oneAtATime);
    // A damaged PDF is common among carved files: poppler's complaints about it are not news.
    static const bool quiet = [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
        return true;
    }();
    (void)quiet;
    const std::unique_ptr<Poppler::Document> doc = Poppler::Document::loadFromData(bytes);
    if (!doc || doc->isLocked() || doc->numPages() < 1) {
        return {};
    }
    doc->setRenderHint(Poppler::Document::Antialiasing);
    doc->setRenderHint(Poppler::Document::TextAntialiasing);
    const std::unique_ptr<Poppler::Page> page = doc->page(0);
    if (!page) {
        return {};
    }
    const QSizeF points = page->pageSizeF();
    if (points.width() < 1 || points.height() < 1) {
        return {};
    }
    const double dpi = 72.0 * std::min(box.width() / points.width(), box.height() / points.height());
    return page->renderToImage(dpi, dpi);
#else
    (void)bytes;
    (void)box;
    return {};
#endif
}

// A carved file's bytes for its thumbnail; empty when it cannot be read or is too large to hold.
QByteArray readForThumbnail(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > static_cast<qint64>(check::maxFileBytes)) {
        return {};
    }
    return file.readAll();
}

// The thumbnail workers: a worker process for each drawing thread, handed the file's bytes.
constexpr double thumbnailSeconds = 10;

box::WorkerBox* takeBox(std::mutex& lock, std::vector<std::unique_ptr<box::WorkerBox>>& free,
                        std::vector<box::WorkerBox*>& all) {
    std::lock_guard<std::mutex> hold(lock);
    if (free.empty()) {
        free.push_back(std::make_unique<box::WorkerBox>(box::rolePictures));
        all.push_back(free.back().get());
    }
    box::WorkerBox* taken = free.back().release();
    free.pop_back();
    return taken;
}

QImage drawInWorker(box::WorkerBox& worker, const QByteArray& bytes, FileTypeId type, QSize size) {
    const auto deadline = box::WorkerBox::Clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(thumbnailSeconds * 1000));
    box::BodyWriter head;
    head.u32(static_cast<std::uint32_t>(type))
        .u32(static_cast<std::uint32_t>(size.width()))
        .u32(static_cast<std::uint32_t>(size.height()));
    box::WorkerBox::Answer answer = worker.send(
        box::Message::Picture,
        {head.bytes(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))}, deadline,
        {});
    if (answer.outcome == box::WorkerBox::Outcome::Replied) {
        answer =
            worker.receive(deadline, {}, static_cast<std::uint32_t>(16 + 4 * size.width() * size.height()));
    }
    if (answer.outcome != box::WorkerBox::Outcome::Replied || answer.message != box::Message::Picture) {
        return {};
    }
    box::BodyReader in(answer.body);
    const std::uint32_t width = in.u32();
    const std::uint32_t height = in.u32();
    const std::string_view pixels = in.rest();
    if (!in.ok() || width == 0 || height == 0 || width > static_cast<std::uint32_t>(size.width()) ||
        height > static_cast<std::uint32_t>(size.height()) ||
        pixels.size() != std::size_t{width} * height * 4) {
        return {};
    }
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32);
    for (std::uint32_t row = 0; row < height; ++row) {
        std::memcpy(image.scanLine(static_cast<int>(row)), pixels.data() + std::size_t{row} * width * 4,
                    std::size_t{width} * 4);
    }
    return image;
}

bool servePicture(std::string_view body, ParentPipes& pipes) {
    box::BodyReader in(body);
    const auto type = static_cast<FileTypeId>(in.u32());
    const std::uint32_t width = in.u32();
    const std::uint32_t height = in.u32();
    const std::string_view bytes = in.rest();
    QImage image;
    if (in.ok() && width > 0 && height > 0 && width <= 4096 && height <= 4096) {
        image = drawThumbnail(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())),
                              type, QSize(static_cast<int>(width), static_cast<int>(height)));
    }
    box::BodyWriter out;
    if (image.isNull()) {
        out.u32(0).u32(0);
    } else {
        image = image.convertToFormat(QImage::Format_ARGB32);
        out.u32(static_cast<std::uint32_t>(image.width())).u32(static_cast<std::uint32_t>(image.height()));
        for (int row = 0; row < image.height(); ++row) {
            out.raw(std::string_view(reinterpret_cast<const char*>(image.constScanLine(row)),
                                     static_cast<std::size_t>(image.width()) * 4));
        }
    }
    return box::reply(pipes, box::Message::Picture, out.bytes());
}

// Before the worker is confined: every image plugin loaded and poppler's fonts set up, by drawing
// a small picture of each kind once.
void warmPictures() {
    for (const char* format : {"png", "jpeg", "tiff", "bmp"}) {
        QImage one(2, 2, QImage::Format_RGB32);
        one.fill(Qt::gray);
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        if (QImageWriter(&buffer, format).write(one)) {
            (void)drawThumbnail(encoded, kind::Bmp, QSize(1, 1));
        }
    }
    static const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0,   0, 0, ',', 0,
                                        0,   0,   0,   1,   0,   1,   0, 0, 2, 2, 'D', 1, 0, ';'};
    (void)drawThumbnail(QByteArray(reinterpret_cast<const char*>(gif), sizeof gif), kind::Gif, QSize(1, 1));
    static const char pdf[] = "%PDF-1.1\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n2 0 "
                              "obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                              "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 20 20]/Resources<</Font<</F 4 0 "
                              "R>>>>/Contents 5 0 R>>endobj\n"
                              "4 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
                              "5 0 obj<</Length 25>>stream\nBT /F 9 Tf 2 2 Td (a) Tj ET\nendstream "
                              "endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n";
    (void)drawThumbnail(QByteArray(pdf, sizeof pdf - 1), kind::Pdf, QSize(8, 8));
}
} // namespace

bool drawsPdfPages() {
#ifdef MORROW_WITH_POPPLER
    return true;
#else
    return false;
#endif
}

QImage drawThumbnail(const QByteArray& bytes, FileTypeId type, QSize box) {
    if (type == kind::Pdf) {
        return firstPdfPage(bytes, box);
    }
    if (!drawsThumbnail(type)) {
        return {};
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // Decoded small where the format allows it (JPEG scales while it decodes), so a large picture
    // never lands in memory whole.
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > box.width() || full.height() > box.height())) {
        reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return {};
    }
    if (image.width() > box.width() || image.height() > box.height()) {
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return image;
}

QImage drawThumbnail(const QString& path, FileTypeId type, QSize box) {
    return drawsThumbnail(type) ? drawThumbnail(readForThumbnail(path), type, box) : QImage();
}

void serveWorkersIfAsked(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], box::workerArgument) == 0) {
        QCoreApplication core(argc, argv); // where the image plugins are found
        box::addHandler(box::Message::Picture, servePicture, warmPictures);
        box::serveIfAsked(argc, argv);
    }
    box::serveIfAsked(argc, argv);
}

ThumbnailCache::ThumbnailCache(QObject* parent) : QObject(parent), images_(cacheKiB) {
    pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
}

ThumbnailCache::~ThumbnailCache() {
    pool_.clear();
    {
        // What is being drawn ends now: a hostile file does not hold the window open.
        std::lock_guard<std::mutex> hold(boxesLock_);
        for (box::WorkerBox* worker : allBoxes_) {
            worker->cancel();
        }
    }
    pool_.waitForDone();
}

QImage ThumbnailCache::draw(const QString& path, FileTypeId type, QSize size) {
    if (!box::workersServed()) {
        return drawThumbnail(path, type, size);
    }
    const QByteArray bytes = readForThumbnail(path);
    if (bytes.isEmpty()) {
        return {};
    }
    std::unique_ptr<box::WorkerBox> worker(takeBox(boxesLock_, freeBoxes_, allBoxes_));
    const QImage image = drawInWorker(*worker, bytes, type, size);
    std::lock_guard<std::mutex> hold(boxesLock_);
    freeBoxes_.push_back(std::move(worker));
    return image;
}

QImage ThumbnailCache::find(const QString& path, FileTypeId type, int sidePixels) {
    const QString k = key(path, sidePixels);
    if (const QImage* image = images_.object(k)) {
        return *image;
    }
    if (!drawsThumbnail(type) || failed_.contains(k) || pending_.contains(k)) {
        return {};
    }
    pending_.insert(k);
    // Rising priorities: the latest asks, what is on screen now, are drawn first.
    pool_.start(
        [this, k, path, type, sidePixels] {
            const QImage image = draw(path, type, QSize(sidePixels, sidePixels));
            QMetaObject::invokeMethod(
                this, [this, k, path, image] { done(k, path, image); }, Qt::QueuedConnection);
        },
        ++nextPriority_);
    return {};
}

void ThumbnailCache::done(const QString& key, const QString& path, const QImage& image) {
    pending_.remove(key);
    if (image.isNull()) {
        failed_.insert(key);
    } else {
        images_.insert(key, new QImage(image), std::max<qsizetype>(1, image.sizeInBytes() / 1024));
    }
    emit drawn(path);
}

void ThumbnailCache::dropQueued() {
    // What is being drawn still comes back through done(); the rest is asked again when painted.
    pool_.clear();
    pending_.clear();
    nextPriority_ = 0;
}

namespace {

// One cell: the thumbnail (or a card with the file's extension while there is none), then the
// name, size, offset and verdict. A damaged file is framed in red.
class GalleryDelegate : public QStyledItemDelegate {
  public:
    GalleryDelegate(ThumbnailCache& cache, QObject* parent) : QStyledItemDelegate(parent), cache_(cache) {}

    QSize cellSize(const QFontMetrics& fm) const {
        return QSize(thumbnailSide + 40, thumbnailSide + 4 * fm.height() + 16);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return cellSize(option.fontMetrics);
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        opt.text.clear();
        opt.icon = QIcon();
        // The whole cell shows the selection: the style would mark only the text, which this
        // delegate draws itself.
        opt.showDecorationSelected = true;
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, p, widget);

        p->save();
        const QRect cell = opt.rect.adjusted(4, 4, -4, -4);
        const QRect thumb(cell.left() + (cell.width() - thumbnailSide) / 2, cell.top(), thumbnailSide,
                          thumbnailSide);
        const QString path = index.data(GalleryModel::PathRole).toString();
        const auto verdict = static_cast<FileVerdict::State>(index.data(GalleryModel::VerdictRole).toInt());
        const qreal dpr = p->device()->devicePixelRatioF();
        const int side = static_cast<int>(std::ceil(thumbnailSide * dpr));
        const QImage image = cache_.find(path, index.data(GalleryModel::TypeRole).toInt(), side);
        if (!image.isNull()) {
            // A picture smaller than the square keeps its own size in logical pixels, so on a
            // high-density screen it is not shown at half its size; a larger one fills the square
            // at the screen's own resolution.
            QSizeF size = image.size();
            if (size.width() > thumb.width() || size.height() > thumb.height()) {
                size.scale(thumb.size(), Qt::KeepAspectRatio);
            }
            const QRectF at(thumb.left() + (thumb.width() - size.width()) / 2,
                            thumb.top() + (thumb.height() - size.height()) / 2, size.width(), size.height());
            p->setRenderHint(QPainter::SmoothPixmapTransform);
            p->drawImage(at, image);
            // A frame, so that a white page or picture stands out from the white cell.
            p->setPen(QPen(opt.palette.color(QPalette::Mid), 0));
            p->setBrush(Qt::NoBrush);
            p->drawRect(at.adjusted(-0.5, -0.5, 0.5, 0.5));
        } else {
            drawCard(p, thumb, path, opt.palette);
        }
        if (verdict == FileVerdict::State::Damaged) {
            p->setPen(QPen(damagedColor, 3));
            p->setBrush(Qt::NoBrush);
            p->drawRect(thumb.adjusted(1, 1, -2, -2));
        }

        const bool selected = (opt.state & QStyle::State_Selected) != 0;
        const QColor text = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        const QFontMetrics fm = opt.fontMetrics;
        QRect line(cell.left(), thumb.bottom() + 6, cell.width(), fm.height());
        auto write = [&](const QString& s, const QColor& color) {
            p->setPen(color);
            p->drawText(line, Qt::AlignHCenter | Qt::AlignTop,
                        fm.elidedText(s, Qt::ElideMiddle, line.width()));
            line.translate(0, fm.height());
        };
        write(index.data(Qt::DisplayRole).toString(), text);
        write(QLocale().formattedDataSize(index.data(GalleryModel::SizeRole).toLongLong()), text);
        write(QStringLiteral("offset ") + QString::number(index.data(GalleryModel::OffsetRole).toLongLong()),
              text);
        QColor verdictColor = text;
        if (!selected) {
            verdictColor = verdict == FileVerdict::State::Damaged ? damagedColor
                           : verdict == FileVerdict::State::Opens
                               ? opensColor
                               : opt.palette.color(QPalette::PlaceholderText);
        }
        write(verdictText(verdict), verdictColor);
        p->restore();
    }

  private:
    // A sheet with the file's extension on it: what a file without a picture shows.
    static void drawCard(QPainter* p, const QRect& thumb, const QString& path, const QPalette& pal) {
        const QRect sheet = thumb.adjusted(22, 8, -22, -8);
        p->setPen(pal.color(QPalette::Mid));
        p->setBrush(pal.color(QPalette::Base));
        p->drawRect(sheet);
        QFont big = p->font();
        big.setBold(true);
        big.setPixelSize(20);
        p->setFont(big);
        p->setPen(pal.color(QPalette::PlaceholderText));
        p->drawText(sheet, Qt::AlignCenter, QFileInfo(path).suffix().toUpper());
        p->setFont(QFont());
    }

    static inline const QColor damagedColor{200, 20, 20};
    static inline const QColor opensColor{20, 120, 40};
    ThumbnailCache& cache_;
};

} // namespace

GalleryWindow::GalleryWindow(GalleryModel& files, QWidget* parent)
    : QWidget(parent, Qt::Window), files_(files),
      opener_([](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }) {
    setWindowTitle(QStringLiteral("Carved files"));
    setObjectName(QStringLiteral("gallery"));
    filter_.setSourceModel(&files_);

    kindFilter_ = new QComboBox(this);
    kindFilter_->setObjectName(QStringLiteral("kindFilter"));
    verdictFilter_ = new QComboBox(this);
    verdictFilter_->setObjectName(QStringLiteral("verdictFilter"));
    verdictFilter_->addItem(QStringLiteral("All verdicts"), -1);
    for (FileVerdict::State state :
         {FileVerdict::State::Opens, FileVerdict::State::Damaged, FileVerdict::State::NotChecked}) {
        verdictFilter_->addItem(verdictText(state), static_cast<int>(state));
    }
    count_ = new QLabel(this);

    auto* delegate = new GalleryDelegate(thumbnails_, this);
    view_ = new QListView(this);
    view_->setObjectName(QStringLiteral("files"));
    view_->setViewMode(QListView::IconMode);
    view_->setMovement(QListView::Static);
    view_->setResizeMode(QListView::Adjust);
    view_->setWrapping(true);
    view_->setUniformItemSizes(true);
    view_->setDragEnabled(false);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setItemDelegate(delegate);
    view_->setGridSize(delegate->cellSize(view_->fontMetrics()));
    view_->setModel(&filter_);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);

    auto* bar = new QHBoxLayout;
    auto* kindLabel = new QLabel(QStringLiteral("&Kind:"), this);
    kindLabel->setBuddy(kindFilter_);
    bar->addWidget(kindLabel);
    bar->addWidget(kindFilter_);
    auto* verdictLabel = new QLabel(QStringLiteral("&Verdict:"), this);
    verdictLabel->setBuddy(verdictFilter_);
    bar->addSpacing(12);
    bar->addWidget(verdictLabel);
    bar->addWidget(verdictFilter_);
    bar->addStretch(1);
    bar->addWidget(count_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    resize(940, 640);

    fillKinds();
    showCount();
    connect(&files_, &GalleryModel::kindsChanged, this, &GalleryWindow::fillKinds);
    connect(kindFilter_, &QComboBox::currentIndexChanged, this, &GalleryWindow::applyFilters);
    connect(verdictFilter_, &QComboBox::currentIndexChanged, this, &GalleryWindow::applyFilters);
    connect(&filter_, &QAbstractItemModel::rowsInserted, this, &GalleryWindow::showCount);
    connect(&filter_, &QAbstractItemModel::rowsRemoved, this, &GalleryWindow::showCount);
    connect(&filter_, &QAbstractItemModel::modelReset, this, &GalleryWindow::showCount);
    connect(&filter_, &QAbstractItemModel::layoutChanged, this, &GalleryWindow::showCount);
    connect(view_, &QAbstractItemView::activated, this, &GalleryWindow::openFile);
    connect(view_, &QWidget::customContextMenuRequested, this, &GalleryWindow::contextMenu);
    connect(&thumbnails_, &ThumbnailCache::drawn, view_->viewport(), qOverload<>(&QWidget::update));
    // What scrolled by need not be drawn any more; what comes into view asks as it is painted.
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, &thumbnails_, &ThumbnailCache::dropQueued);
    // Esc closes the gallery, as it would a dialog.
    auto* closeKey = new QShortcut(QKeySequence::Cancel, this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    view_->setFocus();
}

void GalleryWindow::fillKinds() {
    const QString current = kindFilter_->currentData().toString();
    const QSignalBlocker quiet(kindFilter_);
    kindFilter_->clear();
    kindFilter_->addItem(QStringLiteral("All kinds"), QString());
    for (const QString& tag : files_.kinds()) {
        kindFilter_->addItem(tag, tag);
    }
    kindFilter_->setCurrentIndex(std::max(0, kindFilter_->findData(current)));
    if (kindFilter_->currentData().toString() != current) {
        applyFilters();
    }
}

void GalleryWindow::applyFilters() {
    filter_.setKind(kindFilter_->currentData().toString());
    const int verdict = verdictFilter_->currentData().toInt();
    filter_.setVerdict(verdict < 0 ? std::nullopt : std::optional(static_cast<FileVerdict::State>(verdict)));
    showCount();
}

void GalleryWindow::showCount() {
    count_->setText(QStringLiteral("%1 of %2 files").arg(filter_.rowCount()).arg(files_.rowCount()));
    if (!view_->currentIndex().isValid() && filter_.rowCount() > 0) {
        view_->setCurrentIndex(filter_.index(0, 0));
    }
}

QString GalleryWindow::pathAt(const QModelIndex& index) const {
    return index.data(GalleryModel::PathRole).toString();
}

void GalleryWindow::openFile(const QModelIndex& index) {
    if (index.isValid()) {
        opener_(pathAt(index));
    }
}

void GalleryWindow::showInFolder(const QModelIndex& index) {
    if (index.isValid()) {
        opener_(QFileInfo(pathAt(index)).absolutePath());
    }
}

void GalleryWindow::contextMenu(const QPoint& at) {
    const QModelIndex index = view_->indexAt(at);
    if (!index.isValid()) {
        return;
    }
    QMenu menu(this);
    menu.addAction(QStringLiteral("&Open"), this, [this, index] { openFile(index); });
    menu.addAction(QStringLiteral("Show in &folder"), this, [this, index] { showInFolder(index); });
    menu.exec(view_->viewport()->mapToGlobal(at));
}

} // namespace morrow
