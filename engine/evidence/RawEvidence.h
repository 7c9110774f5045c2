#pragma once

#include "evidence/EvidenceSource.h"

#include <memory>

namespace morrow {

// A raw image: one regular file or block device, read with positioned reads. Bulk copies go
// through the kernel (copy_file_range) when the file systems allow it.
class RawEvidence : public EvidenceSource {
  public:
    // Opens `path` read-only; null with the system's reason in `error` when it cannot. Folders,
    // pipes, sockets and character devices are refused, saying what they are: they are no images.
    static std::unique_ptr<RawEvidence> open(const std::string& path, std::string& error);
    ~RawEvidence() override;
    RawEvidence(const RawEvidence&) = delete;
    RawEvidence& operator=(const RawEvidence&) = delete;

    const std::string& path() const override { return path_; }
    std::uint64_t size() const override { return size_; }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override;
    CopyResult copyTo(OutputFile& out, std::uint64_t offset, std::uint64_t length) override;
    void adviseSequential() override;
    std::uint64_t nextData(std::uint64_t offset) override;
    std::string changed() override;

  private:
    RawEvidence(int fd, std::string path, std::uint64_t size)
        : fd_(fd), path_(std::move(path)), size_(size) {}

    int fd_ = -1;
    std::string path_;
    std::uint64_t size_ = 0;
    // What the evidence was when it was opened: which file, and when it was last written.
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    std::int64_t modifiedSeconds_ = 0;
    std::int64_t modifiedNanoseconds_ = 0;
    // And when its inode last changed, which no caller can set back as it can the modification
    // time (on Windows the change time of FILE_BASIC_INFO, in 100 ns ticks).
    std::int64_t statusChangedSeconds_ = 0;
    std::int64_t statusChangedNanoseconds_ = 0;
    bool holesKnown_ = true; // false once the file system said it cannot tell holes
#ifdef _WIN32
    std::uint32_t sectorSize_ = 1; // reads go in whole sectors of this size (a disk or volume)
#endif
};

} // namespace morrow
