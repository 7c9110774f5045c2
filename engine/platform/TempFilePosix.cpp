#include "platform/TempFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace morrow {

namespace {

const char* temporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : nullptr;
}

} // namespace

TempFile::~TempFile() {
    close();
}

std::string TempFile::describeFolder() {
    const char* folder = temporaryFolder();
    return folder != nullptr ? std::string(folder) + " ($TMPDIR)" : "/tmp";
}

bool TempFile::create() {
    close();
    const char* folder = temporaryFolder();
    std::string pattern = std::string(folder != nullptr ? folder : "/tmp") + "/morrow-XXXXXX";
    file_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (file_ < 0) {
        return false;
    }
    ::unlink(pattern.c_str());
    return true;
}

bool TempFile::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        ssize_t put = ::pwrite(file_, p, length, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        p += put;
        offset += static_cast<std::uint64_t>(put);
        length -= static_cast<std::size_t>(put);
    }
    return true;
}

bool TempFile::readAt(std::uint64_t offset, void* data, std::size_t length) const {
    auto* p = static_cast<unsigned char*>(data);
    while (length > 0) {
        ssize_t got = ::pread(file_, p, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        p += got;
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

void TempFile::close() {
    if (file_ >= 0) {
        ::close(file_);
        file_ = -1;
    }
}

} // namespace morrow
