#pragma once

#include <cstddef>
#include <cstdint>

namespace morrow {

// An anonymous scratch file in the system's temporary folder: it has no name once created and
// is gone when closed, whatever happens to the process. For lists too long to keep in memory.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    TempFile(TempFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    TempFile& operator=(TempFile&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }

    // False when no scratch file can be made (no temporary folder, or it is full).
    bool create();
    bool isOpen() const { return fd_ >= 0; }
    // Whole writes and reads at `offset`; false on any failure or short transfer.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t length);
    bool readAt(std::uint64_t offset, void* data, std::size_t length) const;
    void close();

private:
    int fd_ = -1;
};

} // namespace morrow
