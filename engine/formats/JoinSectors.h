#pragma once

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morrow {

// The sectors a join search steps through, read a block at a time: a search looks at every
// sector start of a window of megabytes, and most of them are refused on their own bytes before
// any trial, so one read serves a few hundred sectors instead of one read each.
class JoinSectors {
  public:
    // How many bytes past a sector's end are at hand with it, for a test that looks one past.
    static constexpr std::size_t lookAhead = 16;

    explicit JoinSectors(EvidenceReader& evidence, std::size_t blockSize = std::size_t{1} << 18)
        : evidence_(evidence), blockSize_(blockSize) {}

    // The bytes from `at` (a sector start below the evidence size): `n` of them real, at least
    // the sector's and `lookAhead` more where the evidence holds them.
    const unsigned char* at(std::uint64_t at, std::size_t& n) {
        const std::uint64_t want = limits::sectorSize + lookAhead;
        if (at < start_ || at + want > start_ + length_) {
            if (bytes_.empty()) {
                bytes_.resize(blockSize_ + want);
            }
            start_ = at;
            length_ = evidence_.readAt(static_cast<std::int64_t>(at), bytes_.data(), bytes_.size());
        }
        n = static_cast<std::size_t>(start_ + length_ - at);
        return bytes_.data() + (at - start_);
    }

    // The bytes from `at` on that the last block read holds (`n` of them), or null.
    const unsigned char* held(std::uint64_t at, std::size_t& n) const {
        if (at < start_ || at >= start_ + length_) {
            n = 0;
            return nullptr;
        }
        n = static_cast<std::size_t>(start_ + length_ - at);
        return bytes_.data() + (at - start_);
    }

    // One byte over and over: zeros, a wiped or unwritten stretch. No compressed data is.
    // Bytes past the evidence's end read as zeros.
    static bool constant(const unsigned char* bytes, std::size_t n) {
        n = std::min<std::size_t>(n, limits::sectorSize);
        const bool padded = n < limits::sectorSize;
        return (n == 0 || !padded || bytes[0] == 0) &&
               std::all_of(bytes, bytes + n, [&](unsigned char b) { return b == bytes[0]; });
    }

  private:
    EvidenceReader& evidence_;
    std::size_t blockSize_;
    std::vector<unsigned char> bytes_;
    std::uint64_t start_ = 0;
    std::size_t length_ = 0;
};

} // namespace morrow
