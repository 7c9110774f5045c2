// RawEvidence on Windows: a file, or a disk or volume opened as a device (\\.\PhysicalDrive1,
// \\.\E:), read with positioned ReadFile calls. The handle is kept as a C runtime descriptor
// (_open_osfhandle), so that the class has one layout on every system.
#include "evidence/RawEvidence.h"

#include "platform/OutputFile.h"
#include "platform/SectorReads.h"
#include "platform/WinApi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winioctl.h>

namespace morrow {

namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool isDevicePath(const std::string& path) {
    return path.size() > 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
           path[2] == '.' && (path[3] == '\\' || path[3] == '/');
}

std::int64_t ticks(const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

std::string reason(int error) {
    return systemErrorText(error);
}

// When the file's metadata last changed (ChangeTime, which a write moves and SetFileTime cannot
// set); 0 when the file system does not say.
std::int64_t changeTicks(HANDLE h) {
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ? basic.ChangeTime.QuadPart
                                                                                : 0;
}

// One ReadFile at `offset`; the bytes it delivered.
std::size_t readOnce(HANDLE h, std::uint64_t offset, void* out, std::size_t length) {
    std::size_t done = 0;
    auto* p = static_cast<unsigned char*>(out);
    while (done < length) {
        OVERLAPPED where{};
        const std::uint64_t at = offset + done;
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 30));
        if (!ReadFile(h, p + done, chunk, &got, &where) || got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

} // namespace

std::unique_ptr<RawEvidence> RawEvidence::open(const std::string& path, std::string& error) {
    const bool device = isDevicePath(path);
    const std::wstring name = win32::systemPath(path);
    if (!device) {
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            error = reason(EISDIR);
            return nullptr;
        }
    }
    // Others may go on reading and writing the evidence (a mounted volume is written all the
    // time); Morrow notices a change through changed(). It never writes.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = reason(win32::lastError());
        return nullptr;
    }
    // Images are files or disks; a pipe, a console or NUL is no image.
    if (const DWORD type = GetFileType(h); type != FILE_TYPE_DISK) {
        CloseHandle(h);
        error = std::string("not a file or disk but ") + (type == FILE_TYPE_PIPE   ? "a pipe"
                                                          : type == FILE_TYPE_CHAR ? "a character device"
                                                                                   : "a special file");
        return nullptr;
    }
    std::uint64_t size = 0;
    std::uint32_t sectorSize = 1;
    BY_HANDLE_FILE_INFORMATION info{};
    if (device) {
        // A device has no file size: the disk says its length and its sector size. A volume lets
        // us read past the end of its file system only when asked to.
        DWORD bytes = 0;
        GET_LENGTH_INFORMATION length{};
        if (DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &bytes,
                            nullptr)) {
            size = static_cast<std::uint64_t>(length.Length.QuadPart);
        }
        DISK_GEOMETRY geometry{};
        sectorSize = 512;
        if (DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &bytes,
                            nullptr) &&
            geometry.BytesPerSector > 0) {
            sectorSize = geometry.BytesPerSector;
        }
        DeviceIoControl(h, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &bytes, nullptr);
    } else {
        LARGE_INTEGER length{};
        if (GetFileSizeEx(h, &length)) {
            size = static_cast<std::uint64_t>(length.QuadPart);
        }
        GetFileInformationByHandle(h, &info);
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        error = reason(EMFILE);
        return nullptr;
    }
    std::unique_ptr<RawEvidence> raw(new RawEvidence(fd, path, size));
    raw->device_ = info.dwVolumeSerialNumber;
    raw->inode_ = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    raw->modifiedSeconds_ = ticks(info.ftLastWriteTime); // in 100 ns ticks, which is all Windows gives
    raw->statusChangedSeconds_ = device ? 0 : changeTicks(h);
    raw->sectorSize_ = sectorSize;
    raw->holesKnown_ = false;
    return raw;
}

RawEvidence::~RawEvidence() {
    if (fd_ >= 0) {
        ::_close(fd_); // closes the handle too
    }
}

std::size_t RawEvidence::read(std::uint64_t offset, void* out, std::size_t length) {
    const HANDLE h = handleOf(fd_);
    if (sectorSize_ <= 1) {
        return readOnce(h, offset, out, length);
    }
    return readInWholeSectors(
        offset, out, length, sectorSize_,
        [h](std::uint64_t at, void* to, std::size_t n) { return readOnce(h, at, to, n); });
}

// Windows has no call that copies a range of one open file into another; the caller's buffer does.
EvidenceSource::CopyResult RawEvidence::copyTo(OutputFile&, std::uint64_t, std::uint64_t) {
    return {};
}

void RawEvidence::adviseSequential() {}

// Holes of sparse files are read like any other bytes here.
std::uint64_t RawEvidence::nextData(std::uint64_t offset) {
    return offset;
}

std::string RawEvidence::changed() {
    if (sectorSize_ > 1) {
        return {}; // a disk or volume keeps its size, and has no write time or identity to compare
    }
    const HANDLE h = handleOf(fd_);
    LARGE_INTEGER length{};
    if (GetFileSizeEx(h, &length) && static_cast<std::uint64_t>(length.QuadPart) != size_) {
        return "its size changed from " + std::to_string(size_) + " to " + std::to_string(length.QuadPart) +
               " bytes";
    }
    BY_HANDLE_FILE_INFORMATION now{};
    if (GetFileInformationByHandle(h, &now) && ticks(now.ftLastWriteTime) != modifiedSeconds_) {
        return "it was written to";
    }
    // The path the examiner gave must still name the file being read.
    HANDLE named = CreateFileW(win32::systemPath(path_).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return "its path no longer opens (" + reason(win32::lastError()) + ")";
    }
    BY_HANDLE_FILE_INFORMATION other{};
    const bool known = GetFileInformationByHandle(named, &other);
    CloseHandle(named);
    const std::uint64_t index =
        (static_cast<std::uint64_t>(other.nFileIndexHigh) << 32) | other.nFileIndexLow;
    if (known && (other.dwVolumeSerialNumber != device_ || index != inode_)) {
        return "its path now names another file";
    }
    if (changeTicks(h) != statusChangedSeconds_) {
        return "its change time moved: it was written to with its modification time put back, or its owner, "
               "permissions or links changed";
    }
    return {};
}

} // namespace morrow
