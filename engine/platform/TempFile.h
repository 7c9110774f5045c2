#pragma once

#include "platform/NativeFile.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace morrow {

// An anonymous scratch file in the system's temporary folder: it has no name once created and
// is gone when closed, whatever happens to the process. For lists too long to keep in memory.
// (On Windows it keeps its name while open, shared with nobody, and is deleted on close.)
class TempFile {
  public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    TempFile(TempFile&& other) noexcept : file_(other.file_) { other.file_ = noFile; }
    TempFile& operator=(TempFile&& other) noexcept {
        if (this != &other) {
            close();
            file_ = other.file_;
            other.file_ = noFile;
        }
        return *this;
    }

    // False when no scratch file can be made (no temporary folder, or it is full), with the
    // reason in errno.
    bool create();
    // The folder scratch files are made in, for messages: "/big/tmp ($TMPDIR)" or "/tmp" (on
    // Windows the folder GetTempPath gives).
    static std::string describeFolder();
    bool isOpen() const { return file_ != noFile; }
    // Whole writes and reads at `offset`; false on any failure or short transfer (errno says why
    // when the system did).
    bool writeAt(std::uint64_t offset, const void* data, std::size_t length);
    bool readAt(std::uint64_t offset, void* data, std::size_t length) const;
    void close();

  private:
    NativeFile file_ = noFile;
};

} // namespace morrow
