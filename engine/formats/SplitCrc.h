#pragma once

#include "formats/FragmentJoin.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where a CRC-32-checked stretch of a file was split: the bytes [from, to) of a file whose
// first piece holds [from, s) and whose next piece, `gap` bytes further on, holds the rest, so
// that the stretch reads [from, s) then [s + gap, to + gap). The split s is a sector start.
//
// The CRC of each first part is computed once, over the first piece; each gap then costs one read
// of the next piece's part, combined with those by crc32_combine, whatever the number of splits.
class SplitCrc {
  public:
    // Splits are tried at the sector starts in [firstSplit, lastSplit], within [from, to].
    SplitCrc(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to, std::uint64_t firstSplit,
             std::uint64_t lastSplit, JoinBudget& budget);

    bool any() const { return !splits_.empty(); }
    std::uint64_t firstSplit() const { return splits_.empty() ? 0 : splits_.front(); }
    std::uint64_t lastSplit() const { return splits_.empty() ? 0 : splits_.back(); }

    // The largest split whose joined stretch has the CRC-32 `expected` with the next piece
    // `gap` bytes on, among those whose next piece's first sector `usable` accepts (it is given
    // the split); nothing when none has.
    std::optional<std::uint64_t> find(std::uint64_t gap, std::uint32_t expected,
                                      const std::function<bool(std::uint64_t)>& usable);

  private:
    EvidenceReader& evidence_;
    JoinBudget& budget_;
    std::uint64_t from_;
    std::uint64_t to_;
    std::vector<std::uint64_t> splits_;   // ascending
    std::vector<std::uint32_t> prefixes_; // CRC of [from, split)
    std::vector<unsigned char> buffer_;
};

} // namespace morrow
