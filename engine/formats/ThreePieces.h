#pragma once

// A file in three pieces, for the joins that check a whole file through a layout: when no second
// piece alone completes it, a split and gap after which the check stands a good way past the split
// (the caller's `progressed` tells) before failing again mark the second piece, and the third is
// sought from that second failure as the two-piece search seeks the second. Each second piece
// tried costs a search of its own, so only one the format vouches for is followed.
#include "formats/SplitSearch.h"

namespace morrow::splitsearch {

// `check` and `quick` as for search(); `quick` gets layouts with a second split too (split2 and
// gap2 set), and `quickFirst` the two-piece layouts tried for the second piece, whose structures
// past the split may lie in the third. `progressed(layout, verdict)` is asked after a check through a
// two-piece layout failed: true when the structures past the split stood far enough to take it for the second
// piece.
template <class Check, class QuickFirst, class Quick, class Progressed>
std::optional<std::vector<Piece>> searchThree(EvidenceReader& evidence, std::int64_t H,
                                              const ClusterClaims& claims, JoinBudget& budget,
                                              std::uint64_t cost, std::uint64_t splits, Check check,
                                              QuickFirst quickFirst, Quick quick, Progressed progressed) {
    constexpr std::uint64_t sector = limits::sectorSize;
    constexpr std::uint64_t none = ~std::uint64_t{0};
    const std::uint64_t size = evidence.size();
    if (H < 0 || static_cast<std::uint64_t>(H) >= size || !budget.spend(cost, 1)) {
        return std::nullopt;
    }
    const auto start = static_cast<std::uint64_t>(H);
    const Verdict whole = check(PieceLayout{start, none, 0, none, 0}, 0);
    if (whole.ok || whole.failAt < sector) {
        return std::nullopt;
    }
    const std::uint64_t back = std::min(splits, maxSplits);
    const std::uint64_t last1 = whole.failAt / sector * sector;
    const std::uint64_t first1 = last1 > back * sector ? last1 - back * sector : sector;
    for (std::uint64_t gap1 = sector; gap1 <= FragmentJoin::maxGap && start + last1 + gap1 < size;
         gap1 += sector) {
        if (!budget.spend(sector)) {
            return std::nullopt;
        }
        // The splits after which the file stands on past the gap: they must give one file (the
        // sectors between them reading the same in place and past the gap), the latest taken.
        std::uint64_t split1 = 0;
        std::uint64_t failAt = 0;
        bool ambiguous = false;
        for (std::uint64_t s = last1; s >= first1 && !ambiguous; s -= sector) {
            const PieceLayout two{start, s, gap1, none, 0};
            if (!quickFirst(two)) {
                continue;
            }
            if (!budget.spend(cost, 1)) {
                return std::nullopt;
            }
            // It must stand past where the file as it lies failed, and a sector past the split.
            const Verdict v = check(two, first1);
            if (v.ok || v.failAt <= whole.failAt || v.failAt < s + sector || !progressed(two, v)) {
                continue;
            }
            if (split1 == 0) {
                split1 = s;
                failAt = v.failAt;
            } else {
                ambiguous = !sameSectors(evidence, start + s, start + split1, gap1);
            }
        }
        if (ambiguous) {
            return std::nullopt;
        }
        if (split1 != 0) {
            // Checked again, so that what `progressed` keeps of the check is this split's.
            const PieceLayout two{start, split1, gap1, none, 0};
            if (!budget.spend(cost, 1)) {
                return std::nullopt;
            }
            const Verdict v = check(two, first1);
            if (v.ok || v.failAt != failAt || !progressed(two, v)) {
                continue;
            }
            // The third piece, from the second failure.
            const std::uint64_t last2 = v.failAt / sector * sector;
            const std::uint64_t first2 =
                std::max(split1 + sector, last2 > back * sector ? last2 - back * sector : 0);
            for (std::uint64_t gap2 = gap1 + sector;
                 gap2 <= gap1 + FragmentJoin::maxGap && start + last2 + gap2 < size; gap2 += sector) {
                if (!budget.spend(sector)) {
                    return std::nullopt;
                }
                std::uint64_t found = 0;
                std::uint64_t length = 0;
                bool twice = false;
                for (std::uint64_t split2 = last2; split2 >= first2; split2 -= sector) {
                    const PieceLayout three{start, split1, gap1, split2, gap2};
                    if (!quick(three)) {
                        continue;
                    }
                    if (!budget.spend(cost, 1)) {
                        return std::nullopt;
                    }
                    const Verdict w = check(three, first2);
                    if (!w.ok || w.length <= split2 || start + w.length + gap2 > size) {
                        continue;
                    }
                    if (found != 0 &&
                        (w.length != length ||
                         !sameSectors(evidence, start + gap1 + split2, start + gap1 + found, gap2 - gap1))) {
                        twice = true;
                        break;
                    }
                    found = split2;
                    length = length == 0 ? w.length : length;
                }
                if (twice) {
                    return std::nullopt;
                }
                if (found == 0) {
                    continue;
                }
                std::uint64_t split2 = found;
                while (split2 + sector <= last2 && sameSectors(evidence, start + gap1 + split2,
                                                               start + gap1 + split2 + sector, gap2 - gap1)) {
                    split2 += sector;
                }
                const std::uint64_t second = start + split1 + gap1;
                const std::uint64_t third = start + split2 + gap2;
                if (claims.taken(static_cast<std::int64_t>(second)) ||
                    claims.taken(static_cast<std::int64_t>(third))) {
                    return std::nullopt;
                }
                for (std::uint64_t s = second; s < start + split2 + gap1; s += sector) {
                    if (claims.claimed(static_cast<std::int64_t>(s))) {
                        return std::nullopt;
                    }
                }
                for (std::uint64_t s = third; s < start + length + gap2; s += sector) {
                    if (claims.claimed(static_cast<std::int64_t>(s))) {
                        return std::nullopt;
                    }
                }
                return std::vector<Piece>{Piece{H, split1},
                                          Piece{static_cast<std::int64_t>(second), split2 - split1},
                                          Piece{static_cast<std::int64_t>(third), length - split2}};
            }
            // The second piece this gap gave led to no third: another is tried.
        }
    }
    return std::nullopt;
}

} // namespace morrow::splitsearch
