#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// An evidence image opened read-only. Every read is positioned (64-bit offsets) and clears its
// buffer first, so bytes beyond the end of the evidence, or that a failing read could not
// deliver, read as zero: a reader never sees stale bytes and never has to check a short read.
//
// Small reads (a format reader's few bytes) are served from one cached window so that a marker
// walk or an allocation-table read costs a memcpy, not a system call per field.
class Evidence {
public:
    Evidence() = default;
    ~Evidence();
    Evidence(const Evidence&) = delete;
    Evidence& operator=(const Evidence&) = delete;

    // Opens `path` read-only. On failure returns false and keeps errno's text in error().
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Size in bytes, taken when the file was opened.
    std::uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

    // Fills `out[0..length)` with the evidence bytes at `offset`; what lies beyond the end (or a
    // negative offset) reads as 0. Returns the number of real evidence bytes delivered.
    std::size_t readAt(std::int64_t offset, void* out, std::size_t length);

    // Little- and big-endian fields; bytes beyond the end read as 0.
    std::uint8_t u8(std::int64_t offset);
    std::uint16_t le16(std::int64_t offset);
    std::uint32_t le32(std::int64_t offset);
    std::uint64_t le64(std::int64_t offset);
    std::uint16_t be16(std::int64_t offset);
    std::uint32_t be32(std::int64_t offset);

    // Bytes fetched from the file since it was opened (what a run really reads).
    std::uint64_t bytesFetched() const { return bytesFetched_; }

    // The underlying descriptor, for bulk copies; -1 when closed.
    int fd() const { return fd_; }

    // Hint that the caller is about to read the whole file front to back.
    void adviseSequential();

private:
    std::size_t readDirect(std::int64_t offset, unsigned char* out, std::size_t length);

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string path_;
    std::string error_;
    std::uint64_t bytesFetched_ = 0;

    // Small enough that a candidate's few scattered field reads do not fetch data nobody uses,
    // large enough for a marker walk or an allocation-table sector.
    static constexpr std::size_t windowSize = 8 * 1024;
    std::vector<unsigned char> window_;
    std::int64_t windowStart_ = -1;
    std::size_t windowLength_ = 0;
};

// Little- and big-endian helpers over a byte buffer.
inline std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t le64(const unsigned char* p) {
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}
inline std::uint16_t be16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t be32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

} // namespace morrow
