#pragma once

#include "CarveHost.h"
#include "CarveState.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace morrow {

class DialogModel;

// A message box as the engine or the dialog asks for it.
struct Win32Message {
    std::wstring text;
    std::wstring title;
    int style = 0;    // the MessageBoxW style: buttons in the low nibble, icon in the next
    bool app = false; // shown through showAppMessage
};

// Shows a message box modally over `owner` and returns the button pressed (IDYES, IDNO, IDOK, ...).
// Tests put their own in its place to answer without a window.
using Win32MessagePresenter = std::function<int(HWND owner, const Win32Message& message)>;
// Opens a folder in the shell's file browser.
using Win32FolderExplorer = std::function<void(const std::wstring& folder)>;

// What the host needs of the dialog it serves.
class Win32Form {
  public:
    virtual HWND window() const = 0;
    virtual DialogModel& model() = 0;
    virtual bool exchangeFromControls() = 0;
    virtual void resetForm() = 0;
    virtual void setRunMode(bool on) = 0;

  protected:
    ~Win32Form() = default;
};

// The dialog's side of the engine on Windows: message boxes, the status and percentage texts, the
// progress bar, the animation control, run mode, and the Stop and Quit polls. The engine runs on
// the window thread inside the Start handler; the polls drain the thread's message queue through
// the dialog's IsDialogMessageW, so the window stays responsive and its keys keep working.
class Win32Host : public CarveHost {
  public:
    explicit Win32Host(Win32Form& form);

    void setMessagePresenter(Win32MessagePresenter presenter) { presenter_ = std::move(presenter); }
    void setFolderExplorer(Win32FolderExplorer explorer) { explorer_ = std::move(explorer); }
    // The poll points come once per sector. Only every `everyCalls`-th poll looks at the clock,
    // and the queue is drained only when `interval` has passed since the last drain; the first
    // poll after enterRunMode always drains.
    void setPollThrottle(int everyCalls, std::chrono::microseconds interval);
    // Called after every drain; tests press Stop and Quit from here, as a user would mid-run.
    void setDrainHook(std::function<void()> hook) { drainHook_ = std::move(hook); }
    std::int64_t drainCount() const { return drains_; }
    void attach(CarveState& state) { state_ = &state; }

    // The application's title: the base name of the executable.
    static std::wstring applicationTitle();

    int showMessage(const std::string& text, const std::string& title, int style) override;
    int showAppMessage(const std::string& text, int style) override;
    void setStatusText(const std::string& text) override;
    void setPercentText(const std::string& text) override;
    void setOverallText(const std::string& text) override;
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

  private:
    void pollDrain() {
        if (++pollsSinceClock_ >= clockEvery_ || drainNext_) {
            drainIfDue();
        }
    }
    void drainIfDue();
    HWND item(int id) const { return GetDlgItem(form_.window(), id); }
    static bool takeFlag(std::int32_t& flag) {
        if (flag == 0) {
            return false;
        }
        flag = 0;
        return true;
    }

    Win32Form& form_;
    CarveState* state_ = nullptr;
    Win32MessagePresenter presenter_;
    Win32FolderExplorer explorer_;
    std::function<void()> drainHook_;
    int clockEvery_ = 64;
    int pollsSinceClock_ = 0;
    bool drainNext_ = false;
    std::chrono::microseconds interval_{5000};
    std::chrono::steady_clock::time_point lastDrain_{};
    std::int64_t drains_ = 0;
    std::int64_t progressUpper_ = 0;
};

} // namespace morrow
