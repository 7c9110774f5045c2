#include "GalleryModel.h"

#include "verify/FileCheck.h"

#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtCore/QMetaObject>

#include <utility>

namespace morrow {

QString verdictText(FileVerdict::State state) {
    switch (state) {
    case FileVerdict::State::Opens:
        return QStringLiteral("opens");
    case FileVerdict::State::Damaged:
        return QStringLiteral("damaged");
    case FileVerdict::State::NotChecked:
        break;
    }
    return QStringLiteral("not checked");
}

int GalleryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant GalleryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const GalleryEntry& e = entry(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QFileInfo(e.path).fileName();
    case Qt::ToolTipRole: {
        QString tip = e.path + QStringLiteral("\n") +
                      QLocale().formattedDataSize(static_cast<qint64>(e.size)) +
                      QStringLiteral(" at offset ") + QString::number(e.offset) + QStringLiteral("\n") +
                      verdictText(e.verdict);
        if (!e.fault.isEmpty()) {
            tip += QStringLiteral(": ") + e.fault;
        }
        return tip;
    }
    case PathRole:
        return e.path;
    case KindRole:
        return e.kindTag;
    case TypeRole:
        return e.type;
    case SizeRole:
        return e.size;
    case OffsetRole:
        return e.offset;
    case VerdictRole:
        return static_cast<int>(e.verdict);
    case FaultRole:
        return e.fault;
    default:
        return {};
    }
}

GalleryModel::~GalleryModel() {
    stopChecking();
}

void GalleryModel::clear() {
    stopChecking();
    ++generation_;
    beginResetModel();
    entries_.clear();
    rowOfPath_.clear();
    endResetModel();
    if (!kinds_.isEmpty()) {
        kinds_.clear();
        emit kindsChanged();
    }
}

void GalleryModel::add(const CarvedFile& file) {
    GalleryEntry e;
    e.path = QString::fromStdString(file.path);
    e.kindTag = QString::fromStdString(file.kindTag);
    e.type = file.type;
    e.size = file.length();
    e.offset = file.offset();
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    rowOfPath_.insert(e.path, row);
    const bool newKind = !kinds_.contains(e.kindTag);
    if (newKind) {
        kinds_ << e.kindTag;
    }
    entries_.push_back(std::move(e));
    endInsertRows();
    if (newKind) {
        emit kindsChanged();
    }
}

void GalleryModel::setVerdict(const CarvedFile& file, const FileVerdict& verdict) {
    const auto found = rowOfPath_.constFind(QString::fromStdString(file.path));
    if (found == rowOfPath_.constEnd()) {
        return;
    }
    GalleryEntry& e = entries_[static_cast<std::size_t>(*found)];
    e.verdict = verdict.state;
    e.fault = QString::fromStdString(verdict.fault);
    e.verdictKnown = true;
    const QModelIndex at = index(*found);
    emit dataChanged(at, at);
}

void GalleryModel::checkUnchecked() {
    if (checking()) {
        return;
    }
    stopChecking();
    std::vector<std::pair<QString, FileTypeId>> files;
    for (const GalleryEntry& e : entries_) {
        if (!e.verdictKnown && FileCheck::checks(e.type)) {
            files.emplace_back(e.path, e.type);
        }
    }
    if (files.empty()) {
        return;
    }
    stopChecker_ = false;
    checkerDone_ = false;
    const quint64 generation = generation_;
    checker_ = std::thread([this, files = std::move(files), generation] {
        for (const auto& [path, type] : files) {
            if (stopChecker_) {
                break;
            }
            const FileVerdict verdict = checkBox_.checkFile(path.toStdString(), type);
            if (stopChecker_) {
                break; // cut short by the stop: no verdict
            }
            QMetaObject::invokeMethod(
                this,
                [this, path = path, verdict, generation] { setCheckedVerdict(path, verdict, generation); },
                Qt::QueuedConnection);
        }
        checkerDone_ = true;
    });
}

void GalleryModel::stopChecking() {
    if (checker_.joinable()) {
        stopChecker_ = true;
        checkBox_.cancel();
        checker_.join();
        checkBox_.reset();
    }
}

void GalleryModel::setCheckedVerdict(const QString& path, const FileVerdict& verdict, quint64 generation) {
    const auto found = rowOfPath_.constFind(path);
    if (generation != generation_ || found == rowOfPath_.constEnd() ||
        entries_[static_cast<std::size_t>(*found)].verdictKnown) {
        return;
    }
    CarvedFile file;
    file.path = path.toStdString();
    setVerdict(file, verdict);
}

void GalleryFilter::setKind(const QString& kindTag) {
    kind_ = kindTag;
    invalidateFilter();
}

void GalleryFilter::setVerdict(std::optional<FileVerdict::State> verdict) {
    verdict_ = verdict;
    invalidateFilter();
}

bool GalleryFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const QModelIndex at = sourceModel()->index(sourceRow, 0, sourceParent);
    if (!kind_.isEmpty() && at.data(GalleryModel::KindRole).toString() != kind_) {
        return false;
    }
    return !verdict_ || at.data(GalleryModel::VerdictRole).toInt() == static_cast<int>(*verdict_);
}

} // namespace morrow
