// Saves PNGs of the Windows dialog at rest, during a run and at the summary, for `make screenshots`
// (under Wine on a virtual X server):
//
//   scripts/wine-gui-run build-win/bin/morrow_win32_screenshots.exe FOLDER
#include "ControlIds.h"
#include "ScanningCarvers.h"
#include "TestSupport.h"
#include "Win32Dialog.h"
#include "platform/WinApi.h"

#include <commctrl.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace morrow;
using win32::widen;

namespace {

std::wstring folder;
bool ok = true;

// Lets the windows paint themselves.
void settle(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    while (GetTickCount() < until) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

void pngChunk(std::string& out, const char* type, const std::string& body) {
    const auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    const std::string typed = std::string(type, 4) + body;
    out += be32(static_cast<std::uint32_t>(body.size())) + typed;
    out += be32(static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

// What the screen shows of `window`, as a PNG file.
void save(HWND window, const wchar_t* name) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    settle(300);
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFOHEADER info{sizeof info, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}; // top-down BGRA
    void* bits = nullptr;
    HBITMAP shot =
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, shot);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::string rows;
    const auto* px = static_cast<const unsigned char*>(bits);
    for (int y = 0; y < h; ++y) {
        rows += '\0'; // no filter
        for (int x = 0; x < w; ++x, px += 4) {
            rows += {static_cast<char>(px[2]), static_cast<char>(px[1]), static_cast<char>(px[0])};
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
             reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size()));
    packed.resize(packedSize);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    for (std::uint32_t v : {static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)}) {
        header += {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                   static_cast<char>(v)};
    }
    header += std::string{8, 2, 0, 0, 0}; // 8-bit RGB
    pngChunk(png, "IHDR", header);
    pngChunk(png, "IDAT", packed);
    pngChunk(png, "IEND", "");
    const std::wstring path = folder + L"\\" + name;
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out << png;
    ok &= out.good();
    std::printf("%ls\n", path.c_str());
    SelectObject(mem, old);
    DeleteObject(shot);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

void CALLBACK saveSummaryBox(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND box = FindWindowW(L"#32770", L"Completed..")) {
        save(box, L"summary-box.png");
        PostMessageW(box, WM_COMMAND, IDNO, 0);
    }
}

void click(Win32Dialog& dialog, int id) {
    SendMessageW(dialog.control(id), BM_CLICK, 0, 0);
}

} // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    folder = widen(argc > 1 ? argv[1] : ".");
    CreateDirectoryW(folder.c_str(), nullptr);

    test::TempDir temp;
    const std::string image = temp / "disk.P01";
    test::ImageBuilder(8 * 1024 * 1024)
        .randomFill(3)
        .place(16 * 512, test::fixture("photo-jfif.jpg"))
        .writeTo(image);
    const std::string second = temp / "usb-stick.P01";
    test::ImageBuilder(64 * 1024).randomFill(4).writeTo(second);

    Win32Dialog dialog(GetModuleHandleW(nullptr));
    dialog.createModeless();
    SetWindowPos(dialog.window(), nullptr, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(dialog.window(), SW_SHOW);
    settle(1500);
    save(dialog.window(), L"initial.png");

    std::wstring next = widen(image);
    dialog.setFileChooser([&](HWND, const std::wstring&) { return next; });
    dialog.setFolderChooser(
        [&](HWND, const std::wstring&, const std::wstring&) { return widen(temp / "out"); });
    click(dialog, ctl::EvidenceBrowse);
    click(dialog, ctl::Add);
    next = widen(second);
    click(dialog, ctl::EvidenceBrowse);
    click(dialog, ctl::Add);
    click(dialog, ctl::AllPictureFiles);
    click(dialog, ctl::CarvingBrowse);
    save(dialog.window(), L"at-rest.png");

    // The run scans for real; the first evidence file's scan is caught at 40 per cent.
    dialog.engine().setCarvers(test::scanningCarvers());
    dialog.host().setPollThrottle(1, std::chrono::microseconds(0));
    bool caught = false;
    dialog.host().setDrainHook([&] {
        wchar_t percent[16] = {};
        GetWindowTextW(dialog.control(ctl::Percent), percent, 16);
        if (!caught && std::wstring(percent) == L"40%") {
            caught = true;
            save(dialog.window(), L"running.png");
            dialog.engine().state().stopRequested = 1;
        }
    });
    dialog.host().setMessagePresenter([&](HWND owner, const Win32Message& m) {
        if (m.title != L"Completed..") {
            return IDYES; // the Stop question: end the run here
        }
        save(dialog.window(), L"summary.png");
        SetTimer(nullptr, 0, 1000, saveSummaryBox);
        return MessageBoxW(owner, m.text.c_str(), m.title.c_str(), static_cast<UINT>(m.style));
    });
    click(dialog, ctl::Ok);
    if (!caught) {
        std::fprintf(stderr, "the run ended before it could be shown\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
