#pragma once

#include "evidence/EvidenceSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace morrow {

// Another source with the blocks read from it last kept whole, for a source whose reads cost more
// than a copy (an E01 image, whose chunks libewf decodes): a file's footer is sought and then the
// same bytes are copied, neighbouring candidates overlap, and reads of a few bytes fall inside one
// block; each block is read once while it stays among the last `blocksKept` used.
// Memory: blocksKept blocks. Everything but read() is the wrapped source's.
class CachedEvidence : public EvidenceSource {
  public:
    CachedEvidence(std::unique_ptr<EvidenceSource> source, std::size_t blockBytes, std::size_t blocksKept);

    // The source read through.
    EvidenceSource& source() { return *source_; }

    const std::string& path() const override { return source_->path(); }
    std::uint64_t size() const override { return size_; }
    // Block by block from those kept, the others read whole from the source; fewer bytes than
    // asked when the source reads a block short (and that block is not kept).
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override;
    CopyResult copyTo(OutputFile& out, std::uint64_t offset, std::uint64_t length) override {
        return source_->copyTo(out, offset, length);
    }
    void adviseSequential() override { source_->adviseSequential(); }
    std::uint64_t nextData(std::uint64_t offset) override { return source_->nextData(offset); }
    std::string changed() override { return source_->changed(); }
    std::uint64_t damageEnd(std::uint64_t offset) override { return source_->damageEnd(offset); }
    std::string readFault() override { return source_->readFault(); }
    std::vector<std::string> segments() const override { return source_->segments(); }
    std::vector<std::pair<std::string, std::string>> acquisitionData() const override {
        return source_->acquisitionData();
    }
    std::string storedMd5() const override { return source_->storedMd5(); }

  private:
    struct Block {
        std::uint64_t index = 0; // the block's number: offset / blockBytes_
        std::uint64_t lastUse = 0;
        std::vector<unsigned char> bytes; // the whole block (less at the source's end); empty: unused
    };
    // Block `index`, read now unless it is kept; null when the source reads it short.
    const Block* block(std::uint64_t index);

    std::unique_ptr<EvidenceSource> source_;
    std::uint64_t size_;
    std::uint64_t blockBytes_;
    std::size_t blocksKept_;
    std::vector<Block> blocks_;
    std::uint64_t useClock_ = 0;
};

} // namespace morrow
