#include "Console.h"

#include "platform/WinApi.h"

// <windows.h> before the headers that build on it.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

namespace morrow::console {

volatile std::sig_atomic_t stopSignalled = 0;
volatile std::sig_atomic_t quitSignalled = 0;
volatile std::sig_atomic_t hungUp = 0;
volatile std::sig_atomic_t* volatile pendingFlag = nullptr;

namespace {

// Set when the run is over; a handler for a closed console waits for it.
HANDLE runOverEvent = nullptr;
// Characters of the progress line now on screen, which the next drawing must cover.
std::size_t drawnWidth = 0;

// Windows calls this on a thread of its own.
BOOL WINAPI onControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        stopSignalled = 1;
        break;
    case CTRL_BREAK_EVENT:
        quitSignalled = 1;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        quitSignalled = 1;
        hungUp = 1;
        break;
    default:
        return FALSE;
    }
    if (pendingFlag != nullptr) {
        *pendingFlag = 1;
    }
    if (hungUp != 0 && runOverEvent != nullptr) {
        // The process ends when this returns: let the run end first, closing the file it was
        // writing and its report. Windows gives a closed console about five seconds.
        WaitForSingleObject(runOverEvent, 10000);
    }
    return TRUE;
}

HANDLE handleOf(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

bool isConsole(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode);
}

// Characters, not bytes, of UTF-8 text: what the line takes on screen.
std::size_t width(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return n;
}

} // namespace

void installHandlers() {
    runOverEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControl, TRUE);
    // Text that goes to the console byte by byte (the C library's) is read as UTF-8.
    SetConsoleOutputCP(CP_UTF8);
}

void runOver() {
    if (runOverEvent != nullptr) {
        SetEvent(runOverEvent);
    }
}

bool isTerminal(int stream) {
    return isConsole(GetStdHandle(stream == 0   ? STD_INPUT_HANDLE
                                  : stream == 1 ? STD_OUTPUT_HANDLE
                                                : STD_ERROR_HANDLE));
}

void print(std::FILE* stream, const std::string& text) {
    const HANDLE h = handleOf(stream);
    if (!isConsole(h)) {
        std::fputs(text.c_str(), stream); // a file or pipe gets the UTF-8 bytes
        return;
    }
    std::fflush(stream);
    const std::wstring wide = win32::widen(text);
    DWORD written = 0;
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// Not every Windows console understands escape sequences: the line is redrawn over itself and
// padded with spaces where the last one was longer.
void drawLine(const std::string& text) {
    const std::size_t now = width(text);
    std::string line = "\r" + text;
    if (now < drawnWidth) {
        line.append(drawnWidth - now, ' ');
    }
    print(stderr, line);
    drawnWidth = now;
}

void clearLine() {
    print(stderr, "\r" + std::string(drawnWidth, ' ') + "\r");
    drawnWidth = 0;
}

std::size_t columns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        return 0;
    }
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

std::vector<std::string> arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) {
            LocalFree(wide);
        }
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        args.push_back(win32::narrow(wide[i]));
    }
    LocalFree(wide);
    return args;
}

void keepStandardStreamsOpen() {}

std::string absolutePath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    // GetFullPathNameW makes the path absolute against the current folder (or the current folder
    // of the drive a "D:cases" names), turns slashes into backslashes and resolves "." and "..".
    const std::wstring wide = win32::widen(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed) {
        return path;
    }
    full.resize(written);
    // A drive's root keeps its backslash (C:\).
    const std::size_t keep = full.size() >= 3 && full[1] == L':' ? 3 : 2;
    while (full.size() > keep && full.back() == L'\\') {
        full.pop_back();
    }
    return win32::narrow(full);
}

} // namespace morrow::console
