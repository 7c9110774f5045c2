#include "platform/OutputFile.h"

#include "platform/WinApi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <windows.h>

namespace morrow {

namespace {

HANDLE handleOf(NativeFile file) {
    return static_cast<HANDLE>(file);
}

} // namespace

OutputFile::~OutputFile() {
    if (file_ != noFile) {
        CloseHandle(handleOf(file_));
    }
}

bool OutputFile::open(const std::string& path, Mode mode) {
    // FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or junction at the name is opened itself,
    // never followed. Readers may look at a carved file while it is written; nobody else writes it.
    HANDLE h = CreateFileW(win32::systemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           mode == Mode::Replace ? CREATE_ALWAYS : CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = win32::lastError();
        file_ = noFile;
        return false;
    }
    error_ = 0;
    file_ = h;
    return true;
}

// Windows has no file without a name: the caller writes under a scratch name and renames it.
bool OutputFile::openUnnamed(const std::string&) {
    return false;
}

int OutputFile::giveName(const std::string&) {
    return EINVAL;
}

bool OutputFile::write(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(handleOf(file_), p, chunk, &put, nullptr)) {
            error_ = win32::lastError();
            return false;
        }
        if (put == 0) {
            error_ = EIO;
            return false;
        }
        p += put;
        length -= put;
    }
    return true;
}

std::int64_t OutputFile::position() {
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(handleOf(file_), LARGE_INTEGER{}, &at, FILE_CURRENT)) {
        error_ = win32::lastError();
        return -1;
    }
    return at.QuadPart;
}

bool OutputFile::truncate(std::int64_t length) {
    LARGE_INTEGER to{};
    to.QuadPart = length;
    if (!SetFilePointerEx(handleOf(file_), to, nullptr, FILE_BEGIN) || !SetEndOfFile(handleOf(file_))) {
        error_ = win32::lastError();
        return false;
    }
    return true;
}

bool OutputFile::close() {
    if (file_ == noFile) {
        return true;
    }
    const BOOL closed = CloseHandle(handleOf(file_));
    file_ = noFile;
    if (!closed) {
        error_ = win32::lastError();
        return false;
    }
    return true;
}

std::string systemErrorText(int error) {
    if (error < win32::firstWindowsError) {
        // The C runtime knows no text for the POSIX numbers Windows never gives.
        if (error == ELOOP) {
            return "Too many levels of symbolic links";
        }
        return std::strerror(error);
    }
    const DWORD code = static_cast<DWORD>(error - win32::firstWindowsError);
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length > 0 ? win32::narrow(std::wstring(text, length)) : std::string();
    LocalFree(text);
    // Windows ends its texts with a full stop and a line break; the messages quote them mid-line.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "Windows error " + std::to_string(code) : message;
}

bool isOutOfSpace(int error) {
    return error == ENOSPC;
}

void removeFile(const std::string& path) {
    DeleteFileW(win32::systemPath(path).c_str());
}

int renameFile(const std::string& from, const std::string& to) {
    return MoveFileExW(win32::systemPath(from).c_str(), win32::systemPath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING)
               ? 0
               : win32::lastError();
}

bool namesNonFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(win32::systemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) !=
               0;
}

} // namespace morrow
