#pragma once

#include "evidence/EvidenceSource.h"

#include <string>

namespace morrow {

// An image held in memory, for tests and fuzz targets: no temporary file, no system call.
class MemoryEvidence : public EvidenceSource {
public:
    MemoryEvidence(std::string path, std::string bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {}

    const std::string& path() const override { return path_; }
    std::uint64_t size() const override { return bytes_.size(); }
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override;

    // The bytes, for a test that changes the image between runs.
    std::string& bytes() { return bytes_; }

private:
    std::string path_;
    std::string bytes_;
};

} // namespace morrow
