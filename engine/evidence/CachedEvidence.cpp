#include "evidence/CachedEvidence.h"

#include <algorithm>
#include <cstring>

namespace morrow {

CachedEvidence::CachedEvidence(std::unique_ptr<EvidenceSource> source, std::size_t blockBytes,
                               std::size_t blocksKept)
    : source_(std::move(source)), size_(source_->size()), blockBytes_(std::max<std::size_t>(blockBytes, 1)),
      blocksKept_(std::max<std::size_t>(blocksKept, 1)) {}

std::size_t CachedEvidence::read(std::uint64_t offset, void* outVoid, std::size_t length) {
    if (offset >= size_) {
        return 0;
    }
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    auto* out = static_cast<unsigned char*>(outVoid);
    std::size_t done = 0;
    while (done < want) {
        const std::uint64_t at = offset + done;
        const Block* kept = block(at / blockBytes_);
        if (kept == nullptr) {
            return done;
        }
        const std::size_t within = static_cast<std::size_t>(at - kept->index * blockBytes_);
        const std::size_t n = std::min(want - done, kept->bytes.size() - within);
        std::memcpy(out + done, kept->bytes.data() + within, n);
        done += n;
    }
    return done;
}

const CachedEvidence::Block* CachedEvidence::block(std::uint64_t index) {
    ++useClock_;
    Block* oldest = nullptr;
    for (Block& b : blocks_) {
        if (b.index == index && !b.bytes.empty()) {
            b.lastUse = useClock_;
            return &b;
        }
        if (oldest == nullptr || b.lastUse < oldest->lastUse) {
            oldest = &b;
        }
    }
    Block* slot = oldest;
    if (blocks_.size() < blocksKept_) {
        blocks_.emplace_back();
        slot = &blocks_.back();
    }
    const std::uint64_t start = index * blockBytes_;
    const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes_, size_ - start));
    slot->bytes.resize(bytes);
    if (source_->read(start, slot->bytes.data(), bytes) != bytes) {
        slot->bytes.clear(); // never a block with less than the source holds there
        return nullptr;
    }
    slot->index = index;
    slot->lastUse = useClock_;
    return slot;
}

} // namespace morrow
