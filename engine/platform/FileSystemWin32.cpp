#include "platform/FileSystem.h"

#include "platform/WinApi.h"

#include <windows.h>

namespace morrow {

bool pathExists(const std::string& path) {
    return GetFileAttributesW(win32::systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int createFolder(const std::string& path) {
    return CreateDirectoryW(win32::systemPath(path).c_str(), nullptr) ? 0 : win32::lastError();
}

int removeEmptyFolder(const std::string& path) {
    return RemoveDirectoryW(win32::systemPath(path).c_str()) ? 0 : win32::lastError();
}

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    HANDLE h = CreateFileW(win32::systemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!known) {
        return std::nullopt; // a disk or volume opened as a device
    }
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<std::uint64_t> freeSpace(const std::string& folder) {
    // The bytes available to this user (quotas counted), not the volume's total free bytes.
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(win32::systemPath(folder).c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(available.QuadPart);
}

} // namespace morrow
