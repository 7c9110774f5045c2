#pragma once

// The search shared by the joins that check a whole file through a two-piece layout (compound
// documents, ASF): the file's own tables say where every structure lies, and one check reads them
// all through the layout, telling where the first one that fails lies. Read as it lies, the file
// fails at some byte, so the split lies at or before that byte's sector. For each gap (a sector
// multiple) and each split a few sectors back from there, a structure past the split whose place
// is fixed must stand past the gap; only then is the whole check run. The join is taken when the splits that
// pass give one file: the sectors between them read the same in place and past the gap (zeros in a zero gap,
// say), or only one passes. Two candidates that give different bytes are no proof of either.
#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/FragmentJoin.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace morrow::splitsearch {

// What one check through a layout found: the file's length when it holds, else the file offset of
// the first structure that failed (of its last byte, for one that may straddle a split).
struct Verdict {
    bool ok = false;
    std::uint64_t length = 0;
    std::uint64_t failAt = 0;
    static Verdict pass(std::uint64_t length) { return Verdict{true, length, 0}; }
    static Verdict fail(std::uint64_t at) { return Verdict{false, 0, at}; }
};

// The most splits tried for one gap, back from where the file as it lies fails: a break found
// further on than this leaves the split too loosely placed to prove.
constexpr std::uint64_t maxSplits = 64;

inline bool sameSectors(EvidenceReader& evidence, std::uint64_t from, std::uint64_t to, std::uint64_t gap) {
    std::array<unsigned char, limits::sectorSize> a{};
    std::array<unsigned char, limits::sectorSize> b{};
    for (std::uint64_t at = from; at < to; at += a.size()) {
        evidence.readAt(static_cast<std::int64_t>(at), a.data(), a.size());
        evidence.readAt(static_cast<std::int64_t>(at + gap), b.data(), b.size());
        if (a != b) {
            return false;
        }
    }
    return true;
}

// `check(layout, from)` reads the file at layout.H through the layout; structures that lie wholly
// before `from` stood as the file lies and may be passed over. `cost` is what one check is charged,
// in bytes. `quick(layout)` is false when a structure whose place the layout does not change, at or
// past the split, does not stand past the gap: most gaps are passed over by it alone. Splits are
// tried `splits` sectors back from where the file as it lies fails.
template <class Check, class Quick>
std::optional<std::vector<Piece>> search(EvidenceReader& evidence, std::int64_t H,
                                         const ClusterClaims& claims, JoinBudget& budget, std::uint64_t cost,
                                         std::uint64_t splits, Check check, Quick quick) {
    constexpr std::uint64_t sector = limits::sectorSize;
    const std::uint64_t size = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= size) {
        return std::nullopt;
    }
    const auto start = static_cast<std::uint64_t>(H);
    PieceLayout asItLies;
    asItLies.H = start;
    asItLies.split = ~std::uint64_t{0};
    if (!budget.spend(cost, 1)) {
        return std::nullopt;
    }
    const Verdict whole = check(asItLies, 0);
    if (whole.ok || whole.failAt < sector) {
        return std::nullopt; // whole as it lies, or no sound start
    }
    // The split is a sector start at or before the failing structure's sector.
    const std::uint64_t last = whole.failAt / sector * sector;
    const std::uint64_t back = std::min(splits, maxSplits);
    const std::uint64_t first = last > back * sector ? last - back * sector : sector;
    for (std::uint64_t gap = sector; gap <= FragmentJoin::maxGap && start + last + gap < size;
         gap += sector) {
        if (!budget.spend(sector)) {
            return std::nullopt;
        }
        PieceLayout layout{start, last, gap};
        std::uint64_t found = 0;
        std::uint64_t length = 0;
        bool ambiguous = false;
        for (std::uint64_t split = last; split >= first; split -= sector) {
            layout.split = split;
            if (!quick(layout)) {
                continue;
            }
            if (!budget.spend(cost, 1)) {
                return std::nullopt;
            }
            const Verdict v = check(layout, first);
            if (!v.ok || v.length <= split || start + v.length + gap > size) {
                continue;
            }
            if (found != 0 &&
                (v.length != length || !sameSectors(evidence, start + split, start + found, gap))) {
                ambiguous = true;
                break;
            }
            found = split;
            length = length == 0 ? v.length : length;
        }
        if (ambiguous) {
            return std::nullopt;
        }
        if (found == 0) {
            continue;
        }
        // Of splits that give the same bytes, the latest: the fewest taken from past the gap.
        std::uint64_t split = found;
        while (split + sector <= last && sameSectors(evidence, start + split, start + split + sector, gap)) {
            split += sector;
        }
        const std::uint64_t piece = start + split + gap;
        if (claims.taken(static_cast<std::int64_t>(piece))) {
            return std::nullopt;
        }
        for (std::uint64_t s = piece; s < start + length + gap; s += sector) {
            if (claims.claimed(static_cast<std::int64_t>(s))) {
                return std::nullopt;
            }
        }
        return std::vector<Piece>{Piece{H, split}, Piece{static_cast<std::int64_t>(piece), length - split}};
    }
    return std::nullopt;
}

} // namespace morrow::splitsearch
