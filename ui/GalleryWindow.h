#pragma once

#include "GalleryModel.h"
#include "box/WorkerBox.h"

#include <QtCore/QCache>
#include <QtCore/QSet>
#include <QtCore/QThreadPool>
#include <QtGui/QImage>
#include <QtWidgets/QWidget>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QComboBox;
class QLabel;
class QListView;

namespace morrow {

// Opens a file or folder with the desktop's own program for it.
using FileOpener = std::function<void(const QString& path)>;

// A picture of a carved file at most `box` device pixels large: a picture scaled down as it is
// decoded, the first page of a PDF; null for other kinds and for files that do not decode. Drawn
// in the calling process: the gallery draws in worker processes (servePictures).
QImage drawThumbnail(const QString& path, FileTypeId type, QSize box);
QImage drawThumbnail(const QByteArray& bytes, FileTypeId type, QSize box);
// The first thing the dialog's main() does: when the arguments make this process a worker, it
// serves (checks, file systems, and the gallery's thumbnails) and exits without returning;
// otherwise it returns at once (box::serveIfAsked).
void serveWorkersIfAsked(int argc, char** argv);
// Whether this build draws PDF pages (it does when poppler was found).
bool drawsPdfPages();

// Thumbnails drawn on worker threads and kept, small, for the views that paint them. A view asks
// while it paints, so only what is on screen is ever drawn; the newest asks are drawn first.
class ThumbnailCache : public QObject {
    Q_OBJECT
  public:
    explicit ThumbnailCache(QObject* parent = nullptr);
    ~ThumbnailCache() override;

    // The thumbnail if it is drawn; otherwise a null image, and it is drawn unless it failed.
    QImage find(const QString& path, FileTypeId type, int sidePixels);
    bool failed(const QString& path, int sidePixels) const { return failed_.contains(key(path, sidePixels)); }
    // Forgets what is asked but not yet begun: after a scroll, the files that went by.
    void dropQueued();
    // True once nothing is waiting or being drawn (the screenshot tool waits for it).
    bool idle() const { return pending_.isEmpty(); }

  signals:
    void drawn(const QString& path);

  private:
    static QString key(const QString& path, int side) { return QString::number(side) + u':' + path; }
    // On a drawing thread: in a worker process of its own, within its budget (in this process
    // when the program serves no workers).
    QImage draw(const QString& path, FileTypeId type, QSize size);
    void done(const QString& key, const QString& path, const QImage& image);

    std::mutex boxesLock_;
    std::vector<std::unique_ptr<box::WorkerBox>> freeBoxes_;
    std::vector<box::WorkerBox*> allBoxes_; // free or in a drawing thread's hands
    QThreadPool pool_;
    QCache<QString, QImage> images_; // cost in KiB
    QSet<QString> pending_;
    QSet<QString> failed_;
    int nextPriority_ = 0;
};

// The files of a run as thumbnails, with name, size, offset and verdict under each; filters by
// kind and verdict; Enter or a double-click opens a file, the context menu also its folder.
// A window of its own beside the dialog, which owns it.
class GalleryWindow : public QWidget {
    Q_OBJECT
  public:
    GalleryWindow(GalleryModel& files, QWidget* parent);

    void setOpener(FileOpener opener) { opener_ = std::move(opener); }
    QListView* view() const { return view_; }
    QComboBox* kindFilter() const { return kindFilter_; }
    QComboBox* verdictFilter() const { return verdictFilter_; }
    ThumbnailCache& thumbnails() { return thumbnails_; }

    // The path of the file a view index stands for.
    QString pathAt(const QModelIndex& index) const;
    void openFile(const QModelIndex& index);
    void showInFolder(const QModelIndex& index);

  private:
    void fillKinds();
    void applyFilters();
    void showCount();
    void contextMenu(const QPoint& at);

    GalleryModel& files_;
    GalleryFilter filter_;
    ThumbnailCache thumbnails_;
    FileOpener opener_;
    QListView* view_ = nullptr;
    QComboBox* kindFilter_ = nullptr;
    QComboBox* verdictFilter_ = nullptr;
    QLabel* count_ = nullptr;
};

} // namespace morrow
