#include "Win32Dialog.h"

#include "ControlIds.h"
#include "FormRules.h"
#include "HelpGuide.h"
#include "MorrowVersion.h"
#include "Resources.h"
#include "platform/WinApi.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

namespace morrow {

using win32::narrow;
using win32::widen;

const wchar_t Win32Dialog::evidenceFilter[] =
    L"Evidence Files (*.P01)\0*.P01\0"
    L"E01 and Split Raw Images (*.E01, *.001, *.aa)\0*.E01;*.001;*.aa\0"
    L" All Files (*.*)\0*.*\0";

namespace {

const COLORREF editBackColor = RGB(230, 255, 250);
const COLORREF listBackColor = RGB(230, 250, 250);
const UINT listStartMessage = WM_APP + 1;
const DWORD listStyles = LVS_EX_CHECKBOXES | LVS_EX_TRACKSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_INFOTIP;

struct ButtonBitmap {
    int id;
    int bitmap;
};
const ButtonBitmap buttonBitmaps[] = {
    {ctl::Ok, IDB_START},
    {ctl::Stop, IDB_STOP},
    {ctl::Cancel, IDB_QUIT},
    {ctl::Help, IDB_HELP},
    {ctl::Add, IDB_ADD},
    {ctl::Remove, IDB_REMOVE},
    {ctl::EvidenceSelectAll, IDB_SELECT_ALL},
    {ctl::EvidenceDeselectAll, IDB_DESELECT_ALL},
    {ctl::KindSelectAll, IDB_SELECT_ALL},
    {ctl::KindDeselectAll, IDB_DESELECT_ALL},
};

// The window's pixels per inch: per monitor where the system tells (Windows 10 and later).
UINT dpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi != nullptr) {
        if (const UINT dpi = getDpi(hwnd)) {
            return dpi;
        }
    }
    HDC dc = GetDC(hwnd);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(hwnd, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

std::wstring programFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

std::string systemReason(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n > 0 ? std::wstring(buffer, n) : L"error " + std::to_wstring(code);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return narrow(text);
}

std::wstring chooseEvidenceFile(HWND owner, const std::wstring& folder) {
    std::wstring file(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = Win32Dialog::evidenceFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrDefExt = L"img";
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn)) {
        return {};
    }
    file.resize(wcslen(file.c_str()));
    return file;
}

int CALLBACK folderBrowserStart(HWND hwnd, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data != 0) {
        SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

std::wstring chooseFolder(HWND owner, const std::wstring& title, const std::wstring& folder) {
    PIDLIST_ABSOLUTE drives = nullptr;
    SHGetSpecialFolderLocation(owner, CSIDL_DRIVES, &drives);
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = drives;
    info.pszDisplayName = display;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
    info.lpfn = folderBrowserStart;
    info.lParam = folder.empty() ? 0 : reinterpret_cast<LPARAM>(folder.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    std::wstring path;
    if (chosen != nullptr) {
        std::wstring buffer(32768, L'\0');
        if (SHGetPathFromIDListEx(chosen, buffer.data(), static_cast<DWORD>(buffer.size()), GPFIDL_DEFAULT)) {
            path = buffer.c_str();
        }
        CoTaskMemFree(chosen);
    }
    CoTaskMemFree(drives);
    return path;
}

// The guide is HTML under the name the design gave the help file: shown by the program that
// opens web pages, whatever its extension says.
void openGuide(const std::wstring& path) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_CLASSNAME | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.lpClass = L".html";
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
}

// Bitmap `id` drawn at `width` by `height` pixels, smoothly.
HBITMAP scaledBitmap(HINSTANCE module, int id, int width, int height) {
    auto* source = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP info{};
    if (source == nullptr || GetObjectW(source, sizeof info, &info) == 0) {
        return source;
    }
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP scaled = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ oldFrom = SelectObject(from, source);
    HGDIOBJ oldTo = SelectObject(to, scaled);
    SetStretchBltMode(to, HALFTONE);
    SetBrushOrgEx(to, 0, 0, nullptr);
    StretchBlt(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    DeleteDC(from);
    DeleteDC(to);
    ReleaseDC(nullptr, screen);
    DeleteObject(source);
    return scaled;
}

} // namespace

std::wstring shownPath(const std::string& utf8) {
    std::wstring path = widen(utf8);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

Win32Dialog::Win32Dialog(HINSTANCE module)
    : module_(module), host_(*this), engine_(host_), model_(engine_.state()),
      fileChooser_(chooseEvidenceFile), folderChooser_(chooseFolder), helpOpener_(openGuide) {
    host_.attach(engine_.state());
    model_.setEvidenceCheck(DialogModel::evidenceOpenFailure);
    std::wstring folder = programFolder();
    std::replace(folder.begin(), folder.end(), L'\\', L'/');
    helpPath_ = shownPath(findHelpGuide(narrow(folder)));
}

Win32Dialog::~Win32Dialog() {
    if (hwnd_ != nullptr && IsWindow(hwnd_)) {
        DestroyWindow(hwnd_);
    }
    for (auto& [id, picture] : pictures_) {
        picture.release();
    }
    if (editBrush_ != nullptr) {
        DeleteObject(editBrush_);
    }
    if (statusFont_ != nullptr) {
        DeleteObject(statusFont_);
    }
    if (banner_ != nullptr) {
        DeleteObject(banner_);
    }
}

INT_PTR Win32Dialog::runModal() {
    return DialogBoxParamW(module_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HWND Win32Dialog::createModeless() {
    CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, dialogProc,
                       reinterpret_cast<LPARAM>(this));
    return hwnd_;
}

INT_PTR CALLBACK Win32Dialog::dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<Win32Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->handle(message, wParam, lParam) : FALSE;
}

LRESULT CALLBACK Win32Dialog::evidenceListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                               UINT_PTR, DWORD_PTR data) {
    if (message == WM_DROPFILES) {
        reinterpret_cast<Win32Dialog*>(data)->dropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

INT_PTR Win32Dialog::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise();
        return TRUE; // the focus goes to the first tab stop, the evidence path
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == LVN_ITEMCHANGED) {
            itemChanged(*reinterpret_cast<const NMLISTVIEW*>(lParam));
        }
        return FALSE;
    }
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        const auto found = pictures_.find(static_cast<int>(item.CtlID));
        if (found == pictures_.end()) {
            return FALSE;
        }
        drawImageButton(item, found->second, dpi_);
        return TRUE;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id == ctl::EvidencePath || id == ctl::MaxFileSize || id == ctl::CarvingPath) {
            SetBkColor(reinterpret_cast<HDC>(wParam), editBackColor);
            return reinterpret_cast<INT_PTR>(editBrush_);
        }
        return FALSE;
    }
    case WM_DPICHANGED:
        dpi_ = HIWORD(wParam);
        applyScale();
        return FALSE; // the dialog manager moves and scales the window and its controls
    case listStartMessage:
        addEvidenceFiles(atStart_);
        atStart_.clear();
        return TRUE;
    default:
        return FALSE;
    }
}

void Win32Dialog::initialise() {
    dpi_ = dpiOf(hwnd_);
    SendMessageW(hwnd_, DM_SETDEFID, IDOK, 0);
    HICON icon = static_cast<HICON>(
        LoadImageW(module_, MAKEINTRESOURCEW(IDI_MORROW), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    HICON small = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDI_MORROW), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                LR_SHARED));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    enable(ctl::Add, false);
    enable(ctl::Remove, false);

    HWND spin = control(ctl::SizeSpin);
    SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(control(ctl::MaxFileSize)), 0);
    SendMessageW(spin, UDM_SETRANGE32, form::minimumFileSizeKB, form::maximumFileSizeKB);
    SendMessageW(spin, UDM_SETPOS32, 0, form::minimumFileSizeKB);

    for (int id : {ctl::KindList, ctl::EvidenceList}) {
        HWND list = control(id);
        ListView_SetExtendedListViewStyle(list, listStyles);
        ListView_SetBkColor(list, listBackColor);
        ListView_SetTextBkColor(list, listBackColor);
    }
    // The model keeps the kinds in the list's order, with what the remembered settings tick.
    syncing_ = true;
    HWND kinds = control(ctl::KindList);
    int row = 0;
    for (const CheckList::Row& kind : model_.kinds().rows()) {
        std::wstring text = widen(kind.text);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row++;
        item.pszText = text.data();
        ListView_InsertItem(kinds, &item);
    }
    syncing_ = false;
    showTicks(ctl::KindList, model_.kinds());

    HWND evidence = control(ctl::EvidenceList);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = MulDiv(320, static_cast<int>(dpi_), 96);
    wchar_t heading[] = L"Evidence File Path";
    column.pszText = heading;
    ListView_InsertColumn(evidence, 0, &column);
    SetWindowSubclass(evidence, evidenceListProc, 1, reinterpret_cast<DWORD_PTR>(this));
    DragAcceptFiles(evidence, TRUE);

    ShowWindow(control(ctl::Progress), SW_HIDE);
    for (const ButtonBitmap& b : buttonBitmaps) {
        pictures_[b.id].load(module_, b.bitmap, IDB_TWICE + b.bitmap);
    }
    editBrush_ = CreateSolidBrush(editBackColor);
    applyScale();
    enable(ctl::Stop, false);
    SetDlgItemTextW(hwnd_, ctl::Status, widen(DialogModel::idleStatus).c_str());
    exchangeToControls();
    if (!atStart_.empty()) {
        PostMessageW(hwnd_, listStartMessage, 0, 0);
    }
}

// What depends on the screen's scale: the status font, the banner picture, the kind list's columns.
void Win32Dialog::applyScale() {
    if (statusFont_ != nullptr) {
        DeleteObject(statusFont_);
    }
    statusFont_ = CreateFontW(MulDiv(16, static_cast<int>(dpi_), 96), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                              ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                              DEFAULT_PITCH | FF_SWISS, L"Times New Roman");
    for (int id : {ctl::Status, ctl::Percent}) {
        SendMessageW(control(id), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
    }
    // The banner fills its 345 by 55 units at whatever size the font and the screen make them.
    HWND bannerControl = control(IDC_BANNER);
    RECT units{0, 0, 345, 55};
    MapDialogRect(hwnd_, &units);
    HBITMAP banner =
        scaledBitmap(module_, dpi_ > 120 ? IDB_TWICE + IDB_BANNER : IDB_BANNER, units.right, units.bottom);
    if (banner != nullptr) {
        SendMessageW(bannerControl, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner));
        if (banner_ != nullptr) {
            DeleteObject(banner_);
        }
        banner_ = banner;
    }
    RECT r{};
    GetClientRect(control(ctl::KindList), &r);
    ListView_SetColumnWidth(control(ctl::KindList), 0, std::max<LONG>((r.right - r.left - 4) / 2, 60));
    ListView_SetColumnWidth(control(ctl::EvidenceList), 0, MulDiv(320, static_cast<int>(dpi_), 96));
    InvalidateRect(hwnd_, nullptr, TRUE);
}

std::wstring Win32Dialog::text(int id) const {
    HWND w = control(id);
    std::wstring out(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    out.resize(static_cast<std::size_t>(GetWindowTextW(w, out.data(), static_cast<int>(out.size()))));
    return out;
}

bool Win32Dialog::ticked(int id) const {
    return SendMessageW(control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Dialog::setTicked(int id, bool on) {
    SendMessageW(control(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

FormValues Win32Dialog::shownForm() const {
    FormValues shown;
    shown.maxFileSize = narrow(text(ctl::MaxFileSize));
    shown.carvingPath = narrow(text(ctl::CarvingPath));
    shown.evidencePath = narrow(text(ctl::EvidencePath));
    shown.allPictureFiles = ticked(ctl::AllPictureFiles);
    shown.exactEnds = ticked(ctl::ExactEnds);
    shown.writeDfxml = ticked(ctl::WriteDfxml);
    shown.reportOnly = ticked(ctl::ReportOnly);
    shown.unallocatedOnly = ticked(ctl::UnallocatedOnly);
    shown.reassembleFragments = ticked(ctl::ReassembleFragments);
    shown.verifyFiles = ticked(ctl::VerifyFiles);
    return shown;
}

bool Win32Dialog::exchangeFromControls() {
    if (!model_.readForm(shownForm())) {
        host_.showAppMessage(DialogModel::integerWanted, style::Ok);
        SetFocus(control(ctl::MaxFileSize));
        SendMessageW(control(ctl::MaxFileSize), EM_SETSEL, 0, -1);
        return false;
    }
    return true;
}

void Win32Dialog::exchangeToControls() {
    const FormValues shown = model_.form();
    SetDlgItemTextW(hwnd_, ctl::MaxFileSize, widen(shown.maxFileSize).c_str());
    SetDlgItemTextW(hwnd_, ctl::CarvingPath, shownPath(shown.carvingPath).c_str());
    setTicked(ctl::AllPictureFiles, shown.allPictureFiles);
    setTicked(ctl::ExactEnds, shown.exactEnds);
    setTicked(ctl::WriteDfxml, shown.writeDfxml);
    setTicked(ctl::ReportOnly, shown.reportOnly);
    setTicked(ctl::UnallocatedOnly, shown.unallocatedOnly);
    setTicked(ctl::ReassembleFragments, shown.reassembleFragments);
    setTicked(ctl::VerifyFiles, shown.verifyFiles);
    SetDlgItemTextW(hwnd_, ctl::EvidencePath, widen(shown.evidencePath).c_str());
}

void Win32Dialog::resetForm() {
    model_.resetForm();
    ShowWindow(control(ctl::Progress), SW_HIDE);
    SetDlgItemTextW(hwnd_, ctl::Status, L"");
    SetDlgItemTextW(hwnd_, ctl::Status, widen(DialogModel::idleStatus).c_str());
    showTicks(ctl::EvidenceList, model_.evidence());
    showTicks(ctl::KindList, model_.kinds());
    exchangeToControls();
}

void Win32Dialog::rememberIn(std::unique_ptr<SettingsStore> store) {
    store_ = std::move(store);
    model_.rememberIn(store_.get());
    carvingFolder_ = shownPath(engine_.state().carvingPath);
    if (hwnd_ != nullptr) {
        showTicks(ctl::KindList, model_.kinds());
        exchangeToControls();
    }
}

void Win32Dialog::setRunMode(bool on) {
    for (const EnableChange& change : model_.setRunMode(on)) {
        enable(change.id, change.enabled);
    }
}

void Win32Dialog::end() {
    ended_ = true;
    EndDialog(hwnd_, IDCANCEL);
}

void Win32Dialog::command(int id, int code) {
    if (id == ctl::EvidencePath) {
        if (code == EN_CHANGE) {
            updateAddEnabled();
        }
        return;
    }
    if (code != BN_CLICKED) {
        return;
    }
    switch (id) {
    case ctl::Ok:
        startRun();
        break;
    case ctl::Cancel:
        // Quit, Esc and the close box: during a run only a request; otherwise the dialog ends.
        if (model_.run().quit() == RunControl::Quit::Now) {
            end();
        }
        break;
    case ctl::Stop:
        model_.run().stop();
        break;
    case ctl::Help:
        showHelp();
        break;
    case ctl::EvidenceBrowse:
        browseEvidence();
        break;
    case ctl::Add:
        addEvidence();
        break;
    case ctl::Remove:
        removeEvidence();
        break;
    case ctl::EvidenceSelectAll:
    case ctl::EvidenceDeselectAll:
        model_.evidence().setAllTicked(id == ctl::EvidenceSelectAll);
        showTicks(ctl::EvidenceList, model_.evidence());
        break;
    case ctl::KindSelectAll:
        model_.kinds().setAllTicked(true);
        showTicks(ctl::KindList, model_.kinds());
        break;
    case ctl::KindDeselectAll:
        model_.deselectAllKinds();
        showTicks(ctl::KindList, model_.kinds());
        setTicked(ctl::AllPictureFiles, false);
        break;
    case ctl::AllPictureFiles:
        model_.setAllPictureFiles(ticked(ctl::AllPictureFiles));
        showTicks(ctl::KindList, model_.kinds());
        break;
    case ctl::CarvingBrowse:
        browseCarvingPath();
        break;
    default:
        break;
    }
}

void Win32Dialog::itemChanged(const NMLISTVIEW& change) {
    if (syncing_ || (change.uChanged & LVIF_STATE) == 0 ||
        ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) == 0 || change.iItem < 0) {
        return;
    }
    const bool on = (change.uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
    if (change.hdr.idFrom == static_cast<UINT_PTR>(ctl::EvidenceList)) {
        model_.evidence().setTicked(change.iItem, on);
        enable(ctl::Remove, model_.removeEnabled());
    } else if (change.hdr.idFrom == static_cast<UINT_PTR>(ctl::KindList)) {
        model_.kinds().setTicked(change.iItem, on);
    }
}

void Win32Dialog::showTicks(int listId, const CheckList& list) {
    HWND w = control(listId);
    syncing_ = true;
    const auto& rows = list.rows();
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        ListView_SetCheckState(w, i, rows[static_cast<std::size_t>(i)].ticked ? TRUE : FALSE);
    }
    syncing_ = false;
    if (listId == ctl::EvidenceList) {
        enable(ctl::Remove, model_.removeEnabled());
    }
}

void Win32Dialog::startRun() {
    // Nothing is made for a run whose evidence has gone since it was listed.
    if (const std::string failure = model_.listedEvidenceFailure(); !failure.empty()) {
        host_.showAppMessage(failure, style::OkStop);
        return;
    }
    if (!model_.run().start()) {
        return;
    }
    model_.describeRun(shownForm(), MORROW_VERSION);
    engine_.startRun();
    if (model_.run().finish()) {
        end();
    }
}

void Win32Dialog::updateAddEnabled() {
    model_.setPendingEvidence(narrow(text(ctl::EvidencePath)));
    enable(ctl::Add, model_.addEnabled());
}

void Win32Dialog::browseEvidence() {
    const std::wstring chosen = fileChooser_(hwnd_, shownPath(model_.evidenceFolder()));
    if (!chosen.empty()) {
        model_.chooseEvidence(narrow(chosen));
        SetDlgItemTextW(hwnd_, ctl::EvidencePath, chosen.c_str());
    }
    updateAddEnabled();
}

void Win32Dialog::addEvidence() {
    const std::wstring path = widen(engine_.state().pendingEvidencePath);
    showListed(model_.addPendingEvidence(), path);
    SetDlgItemTextW(hwnd_, ctl::EvidencePath, L"");
    enable(ctl::Add, false);
}

void Win32Dialog::addEvidenceFiles(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        showListed(model_.listEvidence(narrow(path)), path);
    }
}

void Win32Dialog::showListed(const DialogModel::Listed& listed, const std::wstring& path) {
    if (listed.outcome == DialogModel::Listing::AlreadyListed) {
        host_.showMessage(DialogModel::alreadyListed, CarveEngine::warningTitle, style::OkExclamation);
    } else if (listed.outcome == DialogModel::Listing::CannotOpen) {
        host_.showAppMessage(listed.failure, style::OkStop);
    } else if (listed.outcome == DialogModel::Listing::Added) {
        std::wstring text = path;
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = listed.row;
        item.pszText = text.data();
        syncing_ = true;
        ListView_InsertItem(control(ctl::EvidenceList), &item);
        ListView_SetCheckState(control(ctl::EvidenceList), listed.row, FALSE);
        syncing_ = false;
    }
}

void Win32Dialog::removeEvidence() {
    syncing_ = true;
    for (int row : model_.evidence().removeTicked()) {
        ListView_DeleteItem(control(ctl::EvidenceList), row);
    }
    syncing_ = false;
    enable(ctl::Remove, false);
}

void Win32Dialog::dropFiles(HDROP drop) {
    std::vector<std::wstring> files;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
        const DWORD attributes = GetFileAttributesW(win32::systemPath(narrow(name)).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.push_back(name);
        }
    }
    DragFinish(drop);
    if (!model_.runMode()) {
        addEvidenceFiles(files);
    }
}

void Win32Dialog::browseCarvingPath() {
    const std::wstring chosen = folderChooser_(hwnd_, widen(DialogModel::folderTitle), carvingFolder_);
    if (!chosen.empty()) {
        model_.chooseCarvingPath(narrow(chosen));
        carvingFolder_ = chosen;
        SetDlgItemTextW(hwnd_, ctl::CarvingPath, chosen.c_str());
    }
}

void Win32Dialog::showHelp() {
    HANDLE file = CreateFileW(win32::systemPath(narrow(helpPath_)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        host_.showAppMessage(helpGuideUnreadable(narrow(helpPath_), systemReason(GetLastError())),
                             style::OkStop);
        return;
    }
    CloseHandle(file);
    helpOpener_(helpPath_);
}

} // namespace morrow
