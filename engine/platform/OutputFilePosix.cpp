#include "platform/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morrow {

OutputFile::~OutputFile() {
    if (file_ >= 0) {
        ::close(file_);
    }
}

bool OutputFile::open(const std::string& path, Mode mode) {
    const int how = mode == Mode::Replace ? O_CREAT | O_TRUNC : O_CREAT | O_EXCL;
    file_ = ::open(path.c_str(), O_WRONLY | how | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    error_ = file_ < 0 ? errno : 0;
    return file_ >= 0;
}

bool OutputFile::openUnnamed(const std::string& folder) {
#ifdef O_TMPFILE
    // The name is given through /proc/self/fd, which a process may link without privileges.
    if (::access("/proc/self/fd", X_OK) != 0) {
        return false;
    }
    file_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    error_ = file_ < 0 ? errno : 0;
    return file_ >= 0;
#else
    (void)folder;
    return false;
#endif
}

int OutputFile::giveName(const std::string& path) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", file_);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return 0;
    }
    if (errno != EEXIST) {
        return errno;
    }
    // A stale file of that name goes, as a rename would replace it.
    if (::unlink(path.c_str()) != 0 ||
        ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return errno;
    }
    return 0;
}

bool OutputFile::write(const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        ssize_t put = ::write(file_, p, length);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            error_ = put == 0 ? EIO : errno;
            return false;
        }
        p += put;
        length -= static_cast<std::size_t>(put);
    }
    return true;
}

std::int64_t OutputFile::position() {
    const off_t at = ::lseek(file_, 0, SEEK_CUR);
    if (at < 0) {
        error_ = errno;
    }
    return at;
}

bool OutputFile::truncate(std::int64_t length) {
    if (::ftruncate(file_, static_cast<off_t>(length)) != 0 ||
        ::lseek(file_, static_cast<off_t>(length), SEEK_SET) < 0) {
        error_ = errno;
        return false;
    }
    return true;
}

bool OutputFile::close() {
    if (file_ < 0) {
        return true;
    }
    const int result = ::close(file_);
    file_ = -1;
    if (result != 0) {
        error_ = errno;
        return false;
    }
    return true;
}

std::string systemErrorText(int error) {
    return std::strerror(error);
}

bool isOutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT;
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

int renameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool namesNonFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

} // namespace morrow
