#include "platform/TempFile.h"

#include "platform/WinApi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <windows.h>

namespace morrow {

namespace {

HANDLE handleOf(NativeFile file) {
    return static_cast<HANDLE>(file);
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

} // namespace

TempFile::~TempFile() {
    close();
}

std::string TempFile::describeFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length == 0 || length > MAX_PATH ? std::string("(no temporary folder)") : win32::narrow(folder);
}

bool TempFile::create() {
    close();
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
        errno = length == 0 ? win32::lastError() : ENAMETOOLONG;
        return false;
    }
    // Windows cannot unlink an open file; a name nobody else may open (no sharing) that the
    // system deletes when the last handle closes, even when the process is killed, comes closest.
    static std::atomic<unsigned> made{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = std::wstring(folder) + L"morrow-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(made++) + L"-" + std::to_wstring(GetTickCount64()) +
                                  L".tmp";
        HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            file_ = h;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            errno = win32::lastError();
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

bool TempFile::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        OVERLAPPED where = at(offset);
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
        const BOOL written = WriteFile(handleOf(file_), p, chunk, &put, &where);
        if (!written || put == 0) {
            errno = written ? EIO : win32::lastError();
            return false;
        }
        p += put;
        offset += put;
        length -= put;
    }
    return true;
}

bool TempFile::readAt(std::uint64_t offset, void* data, std::size_t length) const {
    auto* p = static_cast<unsigned char*>(data);
    while (length > 0) {
        OVERLAPPED where = at(offset);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
        if (!ReadFile(handleOf(file_), p, chunk, &got, &where) || got == 0) {
            return false;
        }
        p += got;
        offset += got;
        length -= got;
    }
    return true;
}

void TempFile::close() {
    if (file_ != noFile) {
        CloseHandle(handleOf(file_));
        file_ = noFile;
    }
}

} // namespace morrow
