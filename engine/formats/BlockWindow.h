#pragma once

#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morrow {

// One block of evidence bytes that a reader's walk owns and steps through, read again only when
// the walk leaves it: a walk over data (entropy-coded scans, sub-blocks) costs a memchr or an
// index, not a call per byte.
class BlockWindow {
  public:
    BlockWindow(EvidenceReader& evidence, std::size_t blockSize)
        : evidence_(evidence), blockSize_(blockSize) {}

    // Makes `offset` (below the evidence size) lie in the block; the number of real bytes from
    // there on, 0 only when the evidence failed to deliver any.
    std::size_t load(std::uint64_t offset) {
        if (bytes_.empty()) {
            // No later load needs more than the evidence left after the first: a walk held to a
            // sector's stretch does not clear a whole block for it.
            bytes_.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, evidence_.size() - offset)));
        }
        if (offset < start_ || offset - start_ >= length_) {
            start_ = offset;
            length_ = evidence_.readAt(static_cast<std::int64_t>(offset), bytes_.data(), bytes_.size());
        }
        return length_ - static_cast<std::size_t>(offset - start_);
    }
    // The byte at `offset`, which load() made lie in the block.
    const unsigned char* at(std::uint64_t offset) const { return bytes_.data() + (offset - start_); }

  private:
    EvidenceReader& evidence_;
    std::size_t blockSize_;
    std::vector<unsigned char> bytes_;
    std::uint64_t start_ = 0;
    std::size_t length_ = 0;
};

} // namespace morrow
