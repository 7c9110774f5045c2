#include "formats/SplitCrc.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <zlib.h>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
constexpr std::size_t blockSize = 65536;

// Reads [from, to) of the evidence block by block and gives each part between `cuts` (ascending,
// inside the range) its CRC: crcs[0] for [from, cuts[0]), crcs[i] for [cuts[i-1], cuts[i]), and
// the last for [cuts.back(), to).
std::vector<std::uint32_t> partCrcs(EvidenceReader& evidence, std::vector<unsigned char>& buffer,
                                    std::uint64_t from, std::uint64_t to,
                                    const std::vector<std::uint64_t>& cuts) {
    std::vector<std::uint32_t> crcs;
    crcs.reserve(cuts.size() + 1);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::size_t next = 0;
    std::uint64_t at = from;
    for (;;) {
        const std::uint64_t stop = next < cuts.size() ? cuts[next] : to;
        while (at < stop) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(stop - at, buffer.size()));
            evidence.readAt(static_cast<std::int64_t>(at), buffer.data(), n);
            crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
            at += n;
        }
        crcs.push_back(static_cast<std::uint32_t>(crc));
        crc = crc32(0L, Z_NULL, 0);
        if (next == cuts.size()) {
            break;
        }
        ++next;
    }
    return crcs;
}

} // namespace

SplitCrc::SplitCrc(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to, std::uint64_t firstSplit,
                   std::uint64_t lastSplit, JoinBudget& budget)
    : evidence_(evidence), budget_(budget), from_(from), to_(to), buffer_(blockSize) {
    firstSplit = std::max(firstSplit, from);
    lastSplit = std::min(lastSplit, to);
    for (std::uint64_t s = (firstSplit + sector - 1) / sector * sector; s <= lastSplit; s += sector) {
        splits_.push_back(s);
    }
    if (splits_.empty() || !budget_.spend(splits_.back() - from_)) {
        splits_.clear();
        return;
    }
    // The CRC of each first part, [from, split): the parts between splits, chained.
    const std::vector<std::uint32_t> parts =
        partCrcs(evidence_, buffer_, from_, splits_.back(), {splits_.begin(), splits_.end() - 1});
    uLong crc = 0;
    std::uint64_t length = 0;
    prefixes_.reserve(splits_.size());
    for (std::size_t i = 0; i < splits_.size(); ++i) {
        const std::uint64_t partLength = splits_[i] - (i == 0 ? from_ : splits_[i - 1]);
        crc = length == 0 ? parts[i] : crc32_combine(crc, parts[i], static_cast<z_off_t>(partLength));
        length += partLength;
        prefixes_.push_back(static_cast<std::uint32_t>(length == 0 ? crc32(0L, Z_NULL, 0) : crc));
    }
}

std::optional<std::uint64_t> SplitCrc::find(std::uint64_t gap, std::uint32_t expected,
                                            const std::function<bool(std::uint64_t)>& usable) {
    if (splits_.empty() || !budget_.spend(to_ - splits_.front(), 1)) {
        return std::nullopt;
    }
    // The next piece's parts, each split's on to the stretch's end: [split + gap, to + gap).
    std::vector<std::uint64_t> cuts;
    cuts.reserve(splits_.size());
    for (std::size_t i = 1; i < splits_.size(); ++i) {
        cuts.push_back(splits_[i] + gap);
    }
    const std::vector<std::uint32_t> parts =
        partCrcs(evidence_, buffer_, splits_.front() + gap, to_ + gap, cuts);
    uLong suffix = 0;
    std::uint64_t suffixLength = 0;
    for (std::size_t i = splits_.size(); i-- > 0;) {
        const std::uint64_t partLength = (i + 1 < splits_.size() ? splits_[i + 1] : to_) - splits_[i];
        suffix = suffixLength == 0 ? parts[i]
                                   : crc32_combine(parts[i], suffix, static_cast<z_off_t>(suffixLength));
        suffixLength += partLength;
        const std::uint64_t s = splits_[i];
        const std::uint64_t firstLength = s - from_;
        const uLong whole = firstLength == 0
                                ? suffix
                                : crc32_combine(prefixes_[i], suffix, static_cast<z_off_t>(suffixLength));
        if (static_cast<std::uint32_t>(whole) == expected && usable(s)) {
            return s;
        }
    }
    return std::nullopt;
}

} // namespace morrow
