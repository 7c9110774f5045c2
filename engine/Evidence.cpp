#include "Evidence.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morrow {

Evidence::~Evidence() { close(); }

bool Evidence::open(const std::string& path) {
    close();
    path_ = path;
    error_.clear();
    // O_NONBLOCK: a named pipe given as evidence must not hang the run waiting for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
        ::close(fd);
        return false;
    }
    // A folder opens read-only on POSIX but is no evidence image.
    // Images are regular files or block devices; a folder, a pipe or a socket is no image.
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        error_ = std::strerror(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return false;
    }
    off_t end = ::lseek(fd, 0, SEEK_END);
    size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    fd_ = fd;
    bytesFetched_ = 0;
    windowStart_ = -1;
    windowLength_ = 0;
    return true;
}

void Evidence::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
    windowStart_ = -1;
    windowLength_ = 0;
}

void Evidence::adviseSequential() {
    if (fd_ >= 0) {
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

std::size_t Evidence::readDirect(std::int64_t offset, unsigned char* out, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytesFetched_ += done;
    return done;
}

std::size_t Evidence::readAt(std::int64_t offset, void* outVoid, std::size_t length) {
    auto* out = static_cast<unsigned char*>(outVoid);
    if (length == 0) {
        return 0;
    }
    if (fd_ < 0 || offset < 0 || static_cast<std::uint64_t>(offset) >= size_) {
        std::memset(out, 0, length);
        return 0;
    }
    std::uint64_t available = size_ - static_cast<std::uint64_t>(offset);
    std::size_t want = length < available ? length : static_cast<std::size_t>(available);
    std::size_t got = 0;

    if (want > windowSize / 2) {
        got = readDirect(offset, out, want);
    } else {
        bool inWindow = windowStart_ >= 0 && offset >= windowStart_ &&
                        static_cast<std::uint64_t>(offset - windowStart_) + want <= windowLength_;
        if (!inWindow) {
            if (window_.empty()) {
                window_.resize(windowSize);
            }
            // Align the window so that neighbouring small reads land in it too.
            std::int64_t start = offset & ~static_cast<std::int64_t>(4095);
            windowLength_ = readDirect(start, window_.data(), windowSize);
            windowStart_ = start;
        }
        std::size_t skip = static_cast<std::size_t>(offset - windowStart_);
        got = windowLength_ > skip ? std::min(want, windowLength_ - skip) : 0;
        std::memcpy(out, window_.data() + skip, got);
    }
    // Whatever the file could not deliver reads as zero; only that part is cleared, so a big
    // block read does not write its buffer twice.
    std::memset(out + got, 0, length - got);
    return got;
}

std::uint8_t Evidence::u8(std::int64_t offset) {
    unsigned char b[1];
    readAt(offset, b, 1);
    return b[0];
}
std::uint16_t Evidence::le16(std::int64_t offset) {
    unsigned char b[2];
    readAt(offset, b, 2);
    return morrow::le16(b);
}
std::uint32_t Evidence::le32(std::int64_t offset) {
    unsigned char b[4];
    readAt(offset, b, 4);
    return morrow::le32(b);
}
std::uint64_t Evidence::le64(std::int64_t offset) {
    unsigned char b[8];
    readAt(offset, b, 8);
    return morrow::le64(b);
}
std::uint16_t Evidence::be16(std::int64_t offset) {
    unsigned char b[2];
    readAt(offset, b, 2);
    return morrow::be16(b);
}
std::uint32_t Evidence::be32(std::int64_t offset) {
    unsigned char b[4];
    readAt(offset, b, 4);
    return morrow::be32(b);
}

} // namespace morrow
