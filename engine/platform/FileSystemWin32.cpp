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

std::optional<std::uint64_t> freeSpace(const std::string& folder) {
    // The bytes available to this user (quotas counted), not the volume's total free bytes.
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(win32::systemPath(folder).c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(available.QuadPart);
}

} // namespace morrow
