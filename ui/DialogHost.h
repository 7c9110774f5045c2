#pragma once

#include "CarveHost.h"
#include "CarveState.h"
#include "GalleryModel.h"

#include <QtCore/QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

class QWidget;

namespace morrow {

class ActivityClip;
class DialogModel;

// A message box as the engine or the dialog asks for it.
struct MessageRequest {
    QString text;
    QString title;
    int style = 0;       // the engine's style value: buttons in the low nibble, icon in the next
    bool app = false;    // shown through showAppMessage
    QString extraButton; // a button beside the style's own, answered with answerExtraButton
};

// The answer when the extra button of a MessageRequest was pressed.
inline constexpr int answerExtraButton = 100;

// Shows a message box modally over `owner` and returns the button pressed (answerYes, answerNo,
// answerOk, 2 for Cancel). Tests put their own in its place to answer without a window.
using MessagePresenter = std::function<int(QWidget* owner, const MessageRequest& request)>;
// Opens a folder in the desktop's file browser.
using FolderExplorer = std::function<void(const QString& path)>;

// The real presenter: a QMessageBox with the buttons and icon the style names.
int presentMessageBox(QWidget* owner, const MessageRequest& request);

// The buttons and icon a style value stands for (messageLook), as QMessageBox values.
struct MessageBoxLook {
    int buttons = 0; // QMessageBox::StandardButtons
    int icon = 0;    // QMessageBox::Icon
};
MessageBoxLook messageBoxLook(int style);

// What the host needs of the window it serves, which the main dialog gives it: the controls by
// id, the model behind them, and the form operations that touch both.
class HostedForm {
  public:
    virtual QWidget* formWindow() = 0; // owns the message boxes
    virtual QWidget* control(int id) const = 0;
    virtual DialogModel& model() = 0;
    virtual bool exchangeFromControls() = 0;
    virtual void resetForm() = 0;
    virtual void setRunMode(bool on) = 0;
    // The run's overall line (CarveHost::setOverallText), in the status area.
    virtual void showOverall(const QString& text) = 0;

  protected:
    ~HostedForm() = default;
};

// The dialog's side of the engine: messages, progress, the Stop and Quit polls, run mode and the
// form. The engine runs on the window thread inside the Start handler; this host keeps the window
// alive by running pending Qt events at the engine's poll points.
class DialogHost : public CarveHost {
  public:
    explicit DialogHost(HostedForm& form);

    void setMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }
    void setFolderExplorer(FolderExplorer explorer) { explorer_ = std::move(explorer); }

    // The poll points come once per sector, millions of times a run. Only every `everyCalls`-th
    // poll looks at the clock, and events run only when `interval` has passed since the last
    // drain. The first poll after enterRunMode always drains, so the window shows run mode at once.
    void setPollThrottle(int everyCalls, std::chrono::microseconds interval);
    // Called after every drain; tests and the screenshot tool look at the dialog from here.
    void setDrainHook(std::function<void()> hook) { drainHook_ = std::move(hook); }
    std::int64_t drainCount() const { return drains_; }

    // The files of the last run, with their verdicts as they come.
    GalleryModel& carvedFiles() { return carvedFiles_; }
    // The run's summary offers the files beside Yes and No; true once, after it was taken.
    bool takeGalleryRequest() { return std::exchange(galleryRequested_, false); }
    static constexpr const char* summaryTitle = "Completed..";
    static constexpr const char* showFilesText = "Show the carved files";

    // The application's title: the base name of the executable.
    static QString applicationTitle();

    int showMessage(const std::string& text, const std::string& title, int style) override;
    int showAppMessage(const std::string& text, int style) override;
    void setStatusText(const std::string& text) override;
    void setPercentText(const std::string& text) override;
    void setOverallText(const std::string& text) override { form_.showOverall(QString::fromStdString(text)); }
    void setProgressRange(std::int64_t upper) override;
    void setProgressPos(std::int64_t position) override;
    void showProgress(bool visible) override;
    void startAnimation() override;
    void pauseAnimation() override;
    void resumeAnimation() override;
    void closeAnimation() override;
    void drainMessages() override;
    bool takeStopRequest() override {
        pollDrain();
        return takeFlag(state_->stopRequested);
    }
    bool takeQuitRequest() override {
        pollDrain();
        return takeFlag(state_->quitRequested);
    }
    void enterRunMode() override;
    void leaveRunMode() override;
    void endApplication() override;
    void readForm(CarveState& state) override;
    std::vector<std::string> evidenceRows() override;
    std::vector<KindRow> kindRows() override;
    void resetForm(CarveState& state) override;
    void focusControl(int controlId) override;
    void exploreFolder(const std::string& path) override;
    void fileCarved(const CarvedFile& file) override { carvedFiles_.add(file); }
    void fileVerified(const CarvedFile& file, const FileVerdict& verdict) override {
        carvedFiles_.setVerdict(file, verdict);
    }

    // The state whose request flags the polls read; set by the dialog once its engine exists.
    void attach(CarveState& state) { state_ = &state; }

  private:
    // The cheap part of a poll stays inline: a counter, and the clock only now and then.
    void pollDrain() {
        if (++pollsSinceClock_ >= clockEvery_ || drainNext_) {
            drainIfDue();
        }
    }
    void drainIfDue();
    ActivityClip* clip() const;
    static bool takeFlag(std::int32_t& flag) {
        if (flag == 0) {
            return false;
        }
        flag = 0;
        return true;
    }

    HostedForm& form_;
    CarveState* state_ = nullptr;
    MessagePresenter presenter_;
    FolderExplorer explorer_;
    std::function<void()> drainHook_;
    int clockEvery_ = 64;
    int pollsSinceClock_ = 0;
    bool drainNext_ = false;
    std::chrono::microseconds interval_{5000};
    std::chrono::steady_clock::time_point lastDrain_{};
    std::int64_t drains_ = 0;
    std::int64_t progressUpper_ = 0;
    GalleryModel carvedFiles_;
    bool galleryRequested_ = false;
};

} // namespace morrow
