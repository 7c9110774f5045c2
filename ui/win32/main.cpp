// morrow.exe: the desktop application on Windows. It lives exactly as long as its one dialog.
// Evidence files named on the command line, as Explorer's "Open with" passes them, are listed
// once the dialog shows. Settings are remembered in morrow.ini beside the program when there is
// one (a Morrow carried on a removable drive), else under HKEY_CURRENT_USER\Software\Morrow.
#include "Win32Dialog.h"
#include "Win32Settings.h"
#include "box/Worker.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::wstring programFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/"));
}

// The command line's evidence files as full paths, as the file chooser gives them.
std::vector<std::wstring> evidenceArguments() {
    std::vector<std::wstring> files;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool options = true;
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (options && argument == L"--") {
            options = false;
            continue;
        }
        std::wstring full(32768, L'\0');
        const DWORD n =
            GetFullPathNameW(argument.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        files.push_back(n > 0 && n < full.size() ? full.substr(0, n) : argument);
    }
    LocalFree(arguments);
    return files;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Started again by itself to check files: that and nothing else.
    {
        int count = 0;
        LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
        const bool worker = arguments != nullptr && count > 1 &&
                            std::wstring(arguments[1]) == std::wstring(L"--morrow-worker");
        LocalFree(arguments);
        char program[] = "morrow";
        char workerArgument[] = "--morrow-worker";
        char* argv[] = {program, workerArgument, nullptr};
        morrow::box::serveIfAsked(worker ? 2 : 1, argv);
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS |
                                                       ICC_UPDOWN_CLASS | ICC_ANIMATE_CLASS |
                                                       ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The folder browser and the shell's file dialogs want a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    morrow::Win32Dialog dialog(instance);
    dialog.rememberIn(morrow::programSettings(programFolder()));
    dialog.listAtStart(evidenceArguments());
    dialog.runModal();

    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return 0;
}
