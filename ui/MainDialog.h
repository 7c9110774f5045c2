#pragma once

#include "CarveEngine.h"
#include "DialogHost.h"

#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QPixmap>
#include <QtWidgets/QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QSettings;
class QTreeWidget;
class QTreeWidgetItem;
class QListWidgetItem;
class QToolButton;

namespace morrow {

class ImageButton;

// Control ids of the main dialog; object names are "control" + id.
namespace ctl {
inline constexpr int Ok = 1;      // Start
inline constexpr int Cancel = 2;  // Quit
inline constexpr int KindList = 1000;
inline constexpr int KindSelectAll = 1001;
inline constexpr int KindDeselectAll = 1002;
inline constexpr int CarvingPath = 1003;
inline constexpr int CarvingBrowse = 1004;
inline constexpr int SizeSpin = 1008;
inline constexpr int MaxFileSize = 1009;
inline constexpr int AllPictureFiles = 1010;
inline constexpr int EvidenceList = 1011;
inline constexpr int Progress = 1012;
inline constexpr int Stop = 1018;
inline constexpr int EvidencePath = 1020;
inline constexpr int EvidenceBrowse = 1022;
inline constexpr int Add = 1023;
inline constexpr int Remove = 1024;
inline constexpr int Status = 1027;
inline constexpr int EvidenceSelectAll = 1030;
inline constexpr int EvidenceDeselectAll = 1031;
inline constexpr int Help = 1032;
inline constexpr int Percent = 1036;
inline constexpr int Animation = 1037;
// The opt-in modes beyond the design's controls.
inline constexpr int ExactEnds = 1040;
inline constexpr int WriteDfxml = 1041;
inline constexpr int ReportOnly = 1042;
} // namespace ctl

// The up and down arrows beside the size box: each step sets the box's number one up or down,
// kept within the range.
class SpinArrows : public QWidget {
    Q_OBJECT
public:
    SpinArrows(QLineEdit* buddy, int minimum, int maximum, QWidget* parent);
    void stepBy(int steps);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLineEdit* buddy_;
    int minimum_;
    int maximum_;
    QToolButton* up_;
    QToolButton* down_;
};

// The activity animation: a short loop of frames played while a header scan runs.
class ActivityClip : public QWidget {
    Q_OBJECT
public:
    explicit ActivityClip(QWidget* parent);
    void play();  // from the first frame, for ever
    void stop();  // stays on the current frame
    void close(); // stops and leaves the control blank
    bool isPlaying() const { return timer_.isActive(); }
    bool isOpen() const { return open_; }
    int frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<QPixmap> frames_;
    QTimer timer_;
    int frame_ = 0;
    bool open_ = false;
};

// Chooses an evidence file (empty when cancelled). `filter` is in QFileDialog's form; `folder` is
// where to open, empty for the chooser's own choice.
using FileChooser = std::function<QString(QWidget* owner, const QString& filter, const QString& folder)>;
// Chooses a folder (empty when cancelled).
using FolderChooser = std::function<QString(QWidget* owner, const QString& title)>;

// Morrow's only working window: the evidence list, the kinds to carve, the maximum size, the
// carving path, and Start, Stop and Quit. It owns the engine and its state for its whole life;
// a run executes inside the Start handler.
class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(QWidget* parent = nullptr);
    ~MainDialog() override;

    CarveEngine& engine() { return engine_; }
    DialogHost& host() { return host_; }

    QWidget* control(int id) const { return controls_.value(id); }
    template <class T> T* control(int id) const { return qobject_cast<T*>(control(id)); }
    // Every control with an id, in tab order.
    const std::vector<int>& controlIds() const { return controlIds_; }

    // Seams: the file and folder choosers and where the help file is looked for.
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void setHelpPath(const QString& path) { helpPath_ = path; }
    // The user guide the Help button opens, for a program in `programDir`: beside the program, as
    // in a build folder, else where an install puts it (share/morrow/ beside bin/). When neither
    // place holds it, the installed one, which the error then names.
    static QString findHelpGuide(const QString& programDir);
    QString helpPath() const { return helpPath_; }
    QWidget* helpWindow() const { return helpWindow_; }

    // Remembers in `settings`, which the dialog then owns, the carving path and the evidence
    // chooser's folder when they are chosen, and the ticked kinds, the maximum size and the carving
    // path when a run starts; offers what it held before now. A folder that no longer exists and
    // a size out of range are not offered. Without this call the dialog remembers nothing.
    void rememberIn(QSettings* settings);
    QString evidenceFolder() const { return evidenceFolder_; }

    // Lists each path as Add does, with the same warning for one that is listed already; the
    // evidence box keeps what it holds. For the files named on the command line and dropped on
    // the evidence list.
    void addEvidenceFiles(const QStringList& paths);

    // The form operations behind the host.
    bool exchangeFromControls(); // false when the size box holds no integer
    void exchangeToControls();
    void resetForm();
    void setRunMode(bool on);
    bool inRunMode() const { return runMode_; }
    void requestEnd() { endRequested_ = true; }
    ActivityClip* activityClip() const { return clip_; }

    static const char* const caption;
    static const char* const idleStatus;
    static const char* const evidenceFilter;
    static const char* const folderTitle;

public slots:
    // Quit, Esc and the close box: during a run only a request; otherwise the dialog ends.
    void reject() override;
    void startRun();
    void showHelp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void stopRun();
    void browseEvidence();
    void addEvidence();
    void removeEvidence();
    void browseCarvingPath();
    void allPictureFilesClicked(bool checked);
    void evidenceItemChanged();

private:
    void describeRun();
    void buildControls();
    void initialise();
    void registerControl(int id, QWidget* widget);
    void listEvidence(const QString& path);
    void remember(const char* key, const QVariant& value);
    void rememberForm();
    void setEvidenceTicks(bool ticked);
    void setKindTicks(bool ticked);
    void updateAddEnabled();

    DialogHost host_;
    CarveEngine engine_;

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
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* percent_ = nullptr;
    ActivityClip* clip_ = nullptr;
    QPointer<QWidget> helpWindow_;

    FileChooser fileChooser_;
    FolderChooser folderChooser_;
    QString helpPath_;
    QSettings* settings_ = nullptr;
    QString evidenceFolder_;
    bool runMode_ = false;
    bool running_ = false;
    bool endRequested_ = false;
};

} // namespace morrow
