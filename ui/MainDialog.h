#pragma once

#include "CarveEngine.h"
#include "ControlIds.h"
#include "DialogHost.h"
#include "DialogModel.h"
#include "GalleryWindow.h"

#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtWidgets/QDialog>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QSettings;
class QTreeWidget;
class QTreeWidgetItem;

namespace morrow {

class ActivityClip;
class HelpWindow;
class QtSettingsStore;

// Chooses an evidence file (empty when cancelled). `filter` is in QFileDialog's form; `folder` is
// where to open, empty for the chooser's own choice.
using FileChooser = std::function<QString(QWidget* owner, const QString& filter, const QString& folder)>;
// Chooses a folder (empty when cancelled).
using FolderChooser = std::function<QString(QWidget* owner, const QString& title, const QString& folder)>;

// Morrow's only working window: the evidence list, the kinds to carve, the maximum size, the
// carving path, and Start, Stop and Quit. It owns the engine and its state for its whole life;
// a run executes inside the Start handler. What the form does lives in its DialogModel; this
// class builds the controls, shows the model and passes the user's changes to it.
class MainDialog : public QDialog, public HostedForm {
    Q_OBJECT
  public:
    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    CarveEngine& engine() { return engine_; }
    DialogHost& host() { return host_; }
    DialogModel& model() override { return model_; }

    QWidget* control(int id) const override { return controls_.value(id); }
    template <class T> T* control(int id) const { return qobject_cast<T*>(control(id)); }
    // Every control with an id, in tab order.
    const std::vector<int>& controlIds() const { return controlIds_; }

    // Seams: the file and folder choosers and where the help file is looked for.
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    // How Add and Start tell evidence that cannot be opened (the engine's opener unless told).
    void setEvidenceCheck(DialogModel::EvidenceCheck check) { model_.setEvidenceCheck(std::move(check)); }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void setHelpPath(const QString& path) { helpPath_ = path; }
    // The user guide the Help button opens for a program in `programDir` (findHelpGuide).
    static QString findHelpGuide(const QString& programDir);
    QString helpPath() const { return helpPath_; }
    QWidget* helpWindow() const;
    // How the gallery opens files and folders (the desktop's viewer unless told).
    void setFileOpener(FileOpener opener);
    // The gallery window, once it has been opened.
    GalleryWindow* galleryWindow() const { return galleryWindow_; }

    // Remembers the settings in `settings`, which the dialog then owns (DialogModel::rememberIn).
    void rememberIn(QSettings* settings);
    QString evidenceFolder() const { return QString::fromStdString(model_.evidenceFolder()); }

    // Lists each path as Add does, with the same warning for one that is listed already; the
    // evidence box keeps what it holds. For the files named on the command line and dropped on
    // the evidence list.
    void addEvidenceFiles(const QStringList& paths);

    // The form operations behind the host.
    bool exchangeFromControls() override; // false when the size box holds no integer
    void exchangeToControls();
    void resetForm() override;
    void setRunMode(bool on) override;
    void showOverall(const QString& text) override;
    bool inRunMode() const { return model_.runMode(); }
    ActivityClip* activityClip() const { return clip_; }

    static const char* const evidenceFilter;

  public slots:
    // Quit, Esc and the close box: during a run only a request; otherwise the dialog ends.
    void reject() override;
    void startRun();
    void showHelp();
    // The files of the last run in a window of their own.
    void showCarvedFiles();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private slots:
    void browseEvidence();
    void addEvidence();
    void removeEvidence();
    void browseCarvingPath();
    void allPictureFilesClicked(bool checked);
    void evidenceItemChanged(QTreeWidgetItem* item);
    void kindItemChanged(QListWidgetItem* item);

  private:
    QWidget* formWindow() override { return this; }
    FormValues shownForm() const;
    void buildControls();
    void initialise();
    void registerControl(int id, QWidget* widget);
    // Shows the outcome of listing `path`: its row, or the warning that it is listed already.
    void showListed(const DialogModel::Listed& listed, const QString& path);
    void showEvidenceTicks();
    void showKindTicks();
    void updateAddEnabled();

    DialogHost host_;
    CarveEngine engine_;
    DialogModel model_;

    QHash<int, QWidget*> controls_;
    std::vector<int> controlIds_;
    QLineEdit* evidencePath_ = nullptr;
    QLineEdit* sizeEdit_ = nullptr;
    QLineEdit* carvingPath_ = nullptr;
    QListWidget* kindList_ = nullptr;
    QTreeWidget* evidenceList_ = nullptr;
    QCheckBox* allPictures_ = nullptr;
    QCheckBox* exactEnds_ = nullptr;
    QCheckBox* writeDfxml_ = nullptr;
    QCheckBox* reportOnly_ = nullptr;
    QCheckBox* unallocatedOnly_ = nullptr;
    QCheckBox* reassembleFragments_ = nullptr;
    QCheckBox* verifyFiles_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* percent_ = nullptr;
    QGroupBox* statusArea_ = nullptr; // its title is the run's overall line
    ActivityClip* clip_ = nullptr;
    QPointer<HelpWindow> helpWindow_;
    QPointer<GalleryWindow> galleryWindow_;
    FileOpener fileOpener_;

    FileChooser fileChooser_;
    FolderChooser folderChooser_;
    QString helpPath_;
    std::unique_ptr<QtSettingsStore> settings_;
};

} // namespace morrow
