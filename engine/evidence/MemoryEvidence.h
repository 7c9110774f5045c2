#pragma once

#include "evidence/EvidenceSource.h"

#include <string>

namespace morrow {

// An image held in memory, for tests and fuzz targets: no temporary file, no system call.
class MemoryEvidence : public EvidenceSource {
  public:
    MemoryEvidence(std::string path, std::string bytes)
        : path_(std::move(path)), bytes_(std::move(bytes)), size_(bytes_.size()) {}

    const std::string& path() const override { return path_; }
    // The size it had when it was made.
    std::uint64_t size() const override { return size_; }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override;
    std::string changed() override;

    // The bytes, for a test that changes the image under a run.
    std::string& bytes() { return bytes_; }

  private:
    std::string path_;
    std::string bytes_;
    std::uint64_t size_;
};

} // namespace morrow
