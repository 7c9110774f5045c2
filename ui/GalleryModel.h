#pragma once

#include "base/FileType.h"
#include "box/CheckBox.h"
#include "output/CarvedFile.h"
#include "output/FileVerdict.h"

#include <QtCore/QAbstractListModel>
#include <QtCore/QHash>
#include <QtCore/QSortFilterProxyModel>
#include <QtCore/QStringList>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace morrow {

// What the gallery shows of one carved file.
struct GalleryEntry {
    QString path;
    QString kindTag;
    FileTypeId type = 0;
    quint64 size = 0;
    qint64 offset = 0;
    FileVerdict::State verdict = FileVerdict::State::NotChecked;
    QString fault;
    bool verdictKnown = false; // the run or the gallery's own check gave it
};

// "opens", "damaged" or "not checked", as the gallery writes a verdict.
QString verdictText(FileVerdict::State state);

// The files of the last run, in the order they were carved; the host fills it as the engine tells
// of each file and each verdict. Display is the file name; the roles below give the rest.
class GalleryModel : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role {
        PathRole = Qt::UserRole + 1,
        KindRole,
        TypeRole,
        SizeRole,
        OffsetRole,
        VerdictRole, // FileVerdict::State as an int
        FaultRole,
    };

    using QAbstractListModel::QAbstractListModel;
    ~GalleryModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void clear();
    void add(const CarvedFile& file);
    // A verdict for a file added before; one for a file the model does not hold is dropped.
    void setVerdict(const CarvedFile& file, const FileVerdict& verdict);
    // Checks, on a thread of its own, the files whose run gave no verdict (a run without the
    // dialog's check), so the gallery shows one for each; the run's own verdicts are never
    // overruled. Does nothing while such a check goes on; clear() ends it.
    void checkUnchecked();
    bool checking() const { return checker_.joinable() && !checkerDone_; }

    const GalleryEntry& entry(int row) const { return entries_[static_cast<std::size_t>(row)]; }
    // The kind tags among the files, in the order each first came.
    const QStringList& kinds() const { return kinds_; }

  signals:
    void kindsChanged();

  private:
    void stopChecking();
    void setCheckedVerdict(const QString& path, const FileVerdict& verdict, quint64 generation);

    std::vector<GalleryEntry> entries_;
    QHash<QString, int> rowOfPath_;
    QStringList kinds_;
    box::CheckBox checkBox_; // the checks in a worker process, which a stop kills
    std::thread checker_;
    std::atomic<bool> stopChecker_{false};
    std::atomic<bool> checkerDone_{false};
    quint64 generation_ = 0; // a new list each clear(): verdicts checked for the old one are dropped
};

// The gallery's filters: one kind tag (empty for all) and one verdict (none for all).
class GalleryFilter : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setKind(const QString& kindTag);
    void setVerdict(std::optional<FileVerdict::State> verdict);

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    QString kind_;
    std::optional<FileVerdict::State> verdict_;
};

} // namespace morrow
