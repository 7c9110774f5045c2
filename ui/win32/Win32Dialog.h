#pragma once

#include "CarveEngine.h"
#include "DialogModel.h"
#include "ImageButtonWin32.h"
#include "SettingsStore.h"
#include "Win32Host.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace morrow {

// Chooses an evidence file (empty when cancelled), opening at `folder` (empty: the chooser's own
// choice). The filter is evidenceFilter.
using Win32FileChooser = std::function<std::wstring(HWND owner, const std::wstring& folder)>;
// Chooses a folder (empty when cancelled), opening at `folder`.
using Win32FolderChooser =
    std::function<std::wstring(HWND owner, const std::wstring& title, const std::wstring& folder)>;
// Shows the user guide at `path`.
using Win32HelpOpener = std::function<void(const std::wstring& path)>;

// Morrow's only working window on Windows, built from dialog template 129: the evidence list, the
// kinds to carve, the maximum size, the carving path, and Start, Stop and Quit. A view over the
// same DialogModel as the Qt dialog; it owns the engine, and a run executes inside the Start
// handler, the window kept alive by the host's message draining.
class Win32Dialog : public Win32Form {
  public:
    explicit Win32Dialog(HINSTANCE module);
    ~Win32Dialog();
    Win32Dialog(const Win32Dialog&) = delete;
    Win32Dialog& operator=(const Win32Dialog&) = delete;

    // Runs the dialog modally; returns when it has ended (IDCANCEL).
    INT_PTR runModal();
    // The dialog without its own modal loop, for tests that drive it with messages.
    HWND createModeless();
    // True once Quit (or a confirmed Quit during a run) has ended the dialog.
    bool ended() const { return ended_; }

    HWND window() const override { return hwnd_; }
    HWND control(int id) const { return GetDlgItem(hwnd_, id); }
    DialogModel& model() override { return model_; }
    CarveEngine& engine() { return engine_; }
    Win32Host& host() { return host_; }

    void setFileChooser(Win32FileChooser chooser) { fileChooser_ = std::move(chooser); }
    void setFolderChooser(Win32FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void setHelpOpener(Win32HelpOpener opener) { helpOpener_ = std::move(opener); }
    void setHelpPath(const std::wstring& path) { helpPath_ = path; }
    const std::wstring& helpPath() const { return helpPath_; }

    // Remembers the settings in `store` (DialogModel::rememberIn) and shows what it held.
    void rememberIn(std::unique_ptr<SettingsStore> store);
    // Lists each path as Add does, with the same warning for one listed already. For the files
    // named on the command line and dropped on the evidence list.
    void addEvidenceFiles(const std::vector<std::wstring>& paths);
    // Evidence files to list once the dialog shows (the command line's).
    void listAtStart(std::vector<std::wstring> paths) { atStart_ = std::move(paths); }

    bool exchangeFromControls() override;
    void exchangeToControls();
    void resetForm() override;
    void setRunMode(bool on) override;

    // The file chooser's filter: P01 first, then E01 and split raw images, then all files.
    static const wchar_t evidenceFilter[];

  private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK evidenceListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR id, DWORD_PTR data);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void initialise();
    void applyScale();
    void command(int id, int code);
    void itemChanged(const NMLISTVIEW& change);
    void end();
    FormValues shownForm() const;
    std::wstring text(int id) const;
    bool ticked(int id) const;
    void setTicked(int id, bool on);
    void enable(int id, bool on) { EnableWindow(control(id), on ? TRUE : FALSE); }
    void showListed(const DialogModel::Listed& listed, const std::wstring& path);
    void showTicks(int listId, const CheckList& list);
    void updateAddEnabled();
    void startRun();
    void browseEvidence();
    void addEvidence();
    void removeEvidence();
    void browseCarvingPath();
    void showHelp();
    void dropFiles(HDROP drop);

    HINSTANCE module_;
    HWND hwnd_ = nullptr;
    Win32Host host_;
    CarveEngine engine_;
    DialogModel model_;
    std::unique_ptr<SettingsStore> store_;
    std::map<int, ButtonPicture> pictures_;
    HBRUSH editBrush_ = nullptr;
    HFONT statusFont_ = nullptr;
    HBITMAP banner_ = nullptr;
    UINT dpi_ = 96;
    bool syncing_ = false; // the lists are being set from the model: their changes are not the user's
    bool ended_ = false;
    std::wstring carvingFolder_; // where the folder chooser opens
    std::vector<std::wstring> atStart_;
    Win32FileChooser fileChooser_;
    Win32FolderChooser folderChooser_;
    Win32HelpOpener helpOpener_;
    std::wstring helpPath_;
};

// A path as the user sees it on Windows: UTF-16 with backslashes.
std::wstring shownPath(const std::string& utf8);

} // namespace morrow
