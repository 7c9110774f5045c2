#include "evidence/RawEvidence.h"

#include "platform/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
// RawEvidence on POSIX systems; RawEvidenceWin32.cpp is the same class on Windows.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace morrow {

#ifndef _WIN32

std::unique_ptr<RawEvidence> RawEvidence::open(const std::string& path, std::string& error) {
    // O_NONBLOCK: a named pipe given as evidence must not hang the run waiting for a writer.
    // O_NOATIME: reading the evidence must not change its last access time, which is evidence
    // too; the kernel allows it only to the file's owner (or root) and says EPERM to the rest,
    // who read it the ordinary way.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = ::open(path.c_str(), flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) {
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    // Images are regular files or block devices; a folder, a pipe, a socket or a character
    // device (/dev/zero, /dev/null, a terminal) is no image.
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
                                    : std::string("not a regular file or block device but ") +
                                          (S_ISFIFO(st.st_mode)   ? "a named pipe"
                                           : S_ISSOCK(st.st_mode) ? "a socket"
                                           : S_ISCHR(st.st_mode)  ? "a character device"
                                                                  : "a special file");
        ::close(fd);
        return nullptr;
    }
    off_t end = ::lseek(fd, 0, SEEK_END);
    std::unique_ptr<RawEvidence> raw(
        new RawEvidence(fd, path, end > 0 ? static_cast<std::uint64_t>(end) : 0));
    raw->device_ = static_cast<std::uint64_t>(st.st_dev);
    raw->inode_ = static_cast<std::uint64_t>(st.st_ino);
    raw->modifiedSeconds_ = st.st_mtim.tv_sec;
    raw->modifiedNanoseconds_ = st.st_mtim.tv_nsec;
    raw->statusChangedSeconds_ = st.st_ctim.tv_sec;
    raw->statusChangedNanoseconds_ = st.st_ctim.tv_nsec;
    return raw;
}

std::uint64_t RawEvidence::nextData(std::uint64_t offset) {
    if (!holesKnown_ || offset >= size_) {
        return offset;
    }
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) {
        return std::max<std::uint64_t>(offset, static_cast<std::uint64_t>(data));
    }
    if (errno == ENXIO) {
        return size_; // only a hole up to the end
    }
    holesKnown_ = false;
    return offset;
}

std::string RawEvidence::changed() {
    // The size the open file has now (a file cut or grown under the run), and its last write. A
    // block device's size is asked of the device; a file's comes with the same fstat.
    struct stat now {};
    const bool known = ::fstat(fd_, &now) == 0;
    off_t end = known && S_ISREG(now.st_mode) ? now.st_size : ::lseek(fd_, 0, SEEK_END);
    if (end >= 0 && static_cast<std::uint64_t>(end) != size_) {
        return "its size changed from " + std::to_string(size_) + " to " + std::to_string(end) + " bytes";
    }
    if (known && (now.st_mtim.tv_sec != modifiedSeconds_ || now.st_mtim.tv_nsec != modifiedNanoseconds_)) {
        return "it was written to";
    }
    // The path the examiner gave must still name the file being read.
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0) {
        return std::string("its path no longer opens (") + std::strerror(errno) + ")";
    }
    if (static_cast<std::uint64_t>(named.st_dev) != device_ ||
        static_cast<std::uint64_t>(named.st_ino) != inode_) {
        return "its path now names another file";
    }
    // Written to with its modification time put back (or its owner, mode or links changed):
    // reading, with or without O_NOATIME, leaves the change time alone. Asked last, as a path
    // that now names another file (or none) moved the change time too.
    if (known &&
        (now.st_ctim.tv_sec != statusChangedSeconds_ || now.st_ctim.tv_nsec != statusChangedNanoseconds_)) {
        return "its change time moved: it was written to with its modification time put back, or its owner, "
               "permissions or links changed";
    }
    return {};
}

RawEvidence::~RawEvidence() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void RawEvidence::adviseSequential() {
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::size_t RawEvidence::read(std::uint64_t offset, void* outVoid, std::size_t length) {
    auto* out = static_cast<unsigned char*>(outVoid);
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

EvidenceSource::CopyResult RawEvidence::copyTo(OutputFile& out, std::uint64_t offset, std::uint64_t length) {
    CopyResult result;
    while (result.copied < length) {
        loff_t from = static_cast<loff_t>(offset + result.copied);
        std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - result.copied, 1u << 30));
        ssize_t copied = ::copy_file_range(fd_, &from, out.native(), nullptr, chunk, 0);
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied > 0) {
            result.copied += static_cast<std::uint64_t>(copied);
            continue;
        }
        if (copied < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO)) {
            result.error = errno;
        }
        break; // not supported here, or the evidence ended early: the caller uses its buffer
    }
    return result;
}

#endif // _WIN32

} // namespace morrow
