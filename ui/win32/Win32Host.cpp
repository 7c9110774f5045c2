#include "Win32Host.h"

#include "ControlIds.h"
#include "DialogModel.h"
#include "MessageLook.h"
#include "Resources.h"
#include "platform/WinApi.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>

namespace morrow {

using win32::narrow;
using win32::widen;

Win32Host::Win32Host(Win32Form& form)
    : form_(form), presenter_([](HWND owner, const Win32Message& m) {
          return MessageBoxW(owner, m.text.c_str(), m.title.c_str(), static_cast<UINT>(m.style));
      }),
      explorer_([](const std::wstring& folder) {
          ShellExecuteW(nullptr, L"explore", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      }) {
    // Clicks reach the flags only through a drain, and a drain is due every few milliseconds, so
    // most poll points need not call in at all.
    pollInterval = 16;
}

void Win32Host::setPollThrottle(int everyCalls, std::chrono::microseconds interval) {
    clockEvery_ = std::max(1, everyCalls);
    if (everyCalls <= 1) {
        pollInterval = 1;
    }
    interval_ = interval;
    pollsSinceClock_ = 0;
}

std::wstring Win32Host::applicationTitle() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

int Win32Host::showMessage(const std::string& text, const std::string& title, int style) {
    return presenter_(form_.window(), Win32Message{widen(text), widen(title), style, false});
}

int Win32Host::showAppMessage(const std::string& text, int style) {
    return presenter_(form_.window(),
                      Win32Message{widen(text), applicationTitle(), appMessageStyle(style), true});
}

void Win32Host::setStatusText(const std::string& text) {
    SetWindowTextW(item(ctl::Status), widen(text).c_str());
}

void Win32Host::setPercentText(const std::string& text) {
    SetWindowTextW(item(ctl::Percent), widen(text).c_str());
}

void Win32Host::setOverallText(const std::string& text) {
    SetWindowTextW(item(ctl::StatusArea), widen(text).c_str());
}

void Win32Host::setProgressRange(std::int64_t upper) {
    // The carvers pass count - 1, so a pass without candidates sets -1: an empty bar.
    progressUpper_ = std::clamp<std::int64_t>(upper, 0, INT_MAX);
    SendMessageW(item(ctl::Progress), PBM_SETRANGE32, 0,
                 static_cast<LPARAM>(std::max<std::int64_t>(progressUpper_, 1)));
    SendMessageW(item(ctl::Progress), PBM_SETPOS, 0, 0);
}

void Win32Host::setProgressPos(std::int64_t position) {
    const std::int64_t pos = progressUpper_ == 0 ? 0 : std::clamp<std::int64_t>(position, 0, progressUpper_);
    SendMessageW(item(ctl::Progress), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32Host::showProgress(bool visible) {
    ShowWindow(item(ctl::Progress), visible ? SW_SHOW : SW_HIDE);
}

void Win32Host::startAnimation() {
    SendMessageW(item(ctl::Animation), ACM_OPENW, 0, static_cast<LPARAM>(IDA_ACTIVITY));
    SendMessageW(item(ctl::Animation), ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
}

void Win32Host::pauseAnimation() {
    SendMessageW(item(ctl::Animation), ACM_STOP, 0, 0);
}

void Win32Host::resumeAnimation() {
    SendMessageW(item(ctl::Animation), ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
}

void Win32Host::closeAnimation() {
    SendMessageW(item(ctl::Animation), ACM_STOP, 0, 0);
    SendMessageW(item(ctl::Animation), ACM_OPENW, 0, 0);
}

void Win32Host::drainMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not ours to take: the loop that waits for it must still see it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (!IsDialogMessageW(form_.window(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    lastDrain_ = std::chrono::steady_clock::now();
    ++drains_;
    if (drainHook_) {
        drainHook_();
    }
}

void Win32Host::drainIfDue() {
    pollsSinceClock_ = 0;
    if (drainNext_ || std::chrono::steady_clock::now() - lastDrain_ >= interval_) {
        drainNext_ = false;
        drainMessages();
    }
}

void Win32Host::enterRunMode() {
    form_.setRunMode(true);
    drainNext_ = true;
}

void Win32Host::leaveRunMode() {
    form_.setRunMode(false);
}

void Win32Host::endApplication() {
    form_.model().run().endApplication();
}

void Win32Host::readForm(CarveState&) {
    form_.exchangeFromControls();
}

std::vector<std::string> Win32Host::evidenceRows() {
    return form_.model().evidence().texts();
}

std::vector<KindRow> Win32Host::kindRows() {
    std::vector<KindRow> rows;
    for (const CheckList::Row& row : form_.model().kinds().rows()) {
        rows.push_back(KindRow{row.text, row.ticked});
    }
    return rows;
}

void Win32Host::resetForm(CarveState&) {
    form_.resetForm();
}

void Win32Host::focusControl(int controlId) {
    if (HWND w = item(controlId)) {
        SetFocus(w);
    }
}

void Win32Host::exploreFolder(const std::string& path) {
    explorer_(win32::systemPath(path));
}

} // namespace morrow
