// ZIP's proof of a join (PKWARE APPNOTE.TXT 4.3.7, 4.3.12, 4.3.16): the central directory gives
// every member's local header offset from the archive's first byte, and the end record the
// directory's own offset. Where the directory is found further on than its offset says, the
// difference is the gap; every member must then stand at its offset in the piece that holds it,
// and each member's data must have its CRC-32 and sizes, the one the split runs through too.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/SplitCrc.h"
#include "formats/ZipMembers.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <zlib.h>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
// How far past the first local header an archive's end record is searched.
constexpr std::uint64_t maxSearch = std::uint64_t{128} << 20;

// The split under which every member holds, the directory having been found `gap` bytes past its
// offset; 0 when none does.
std::uint64_t provenSplit(EvidenceReader& evidence, std::uint64_t H, std::uint64_t gap,
                          std::uint64_t cdOffset, const std::vector<ZipMember>& members,
                          const ClusterClaims& claims, JoinBudget& budget) {
    PieceLayout before{H, ~std::uint64_t{0}, 0}; // every offset in the first piece
    PieceLayout after{H, 0, gap};                // every offset in the next
    // The members whose local headers stand in the first piece, then those in the next.
    std::size_t firstAfter = 0;
    while (firstAfter < members.size() && ZipMembers::localData(evidence, before, members[firstAfter]) != 0) {
        ++firstAfter;
    }
    if (firstAfter == 0) {
        return 0;
    }
    for (std::size_t i = firstAfter; i < members.size(); ++i) {
        if (ZipMembers::localData(evidence, after, members[i]) == 0) {
            return 0;
        }
    }
    // The split lies in the data of the last member of the first piece (or just after it).
    const ZipMember& broken = members[firstAfter - 1];
    const std::uint64_t data = ZipMembers::localData(evidence, before, broken);
    const std::uint64_t limit = firstAfter < members.size() ? members[firstAfter].offset : cdOffset;
    const std::uint64_t dataEnd = data + broken.compressed;
    if (dataEnd > limit) {
        return 0;
    }
    std::uint64_t lastSplit = limit;
    for (std::uint64_t s = (data + sector - 1) / sector * sector; s < lastSplit; s += sector) {
        if (claims.claimed(static_cast<std::int64_t>(H + s))) {
            lastSplit = s;
            break;
        }
    }
    // No split may leave a sector the next piece needs to another file.
    auto nextPieceFree = [&](std::uint64_t split) {
        for (std::uint64_t at = H + split + gap; at < H + cdOffset + gap; at += sector) {
            if (claims.claimed(static_cast<std::int64_t>(at))) {
                return false;
            }
        }
        return true;
    };
    std::uint64_t split = 0;
    std::vector<unsigned char> in(65536);
    std::vector<unsigned char> out(65536);
    if (broken.method == 0 && broken.compressed == broken.size) {
        SplitCrc crc(evidence, H + data, H + dataEnd, H + data, H + std::min(lastSplit, dataEnd), budget);
        const auto found = crc.find(gap, broken.crc, [&](std::uint64_t s) { return nextPieceFree(s - H); });
        if (found) {
            split = *found - H;
        }
    }
    if (split == 0) {
        // Deflated data, each split in turn, the latest first, as far back as the data begins; or
        // stored data whole in the first piece, split after it.
        const std::uint64_t pastData = (dataEnd + sector - 1) / sector * sector;
        const std::uint64_t lowest = broken.method == 0 ? pastData : data;
        // The data as it lies stops decoding soon pastData the split: no later split is tried.
        std::uint64_t failed = pastData;
        if (broken.method != 0) {
            ZipMembers::dataHolds(evidence, before, broken, data, budget, in, out, &failed);
        }
        failed = std::min(pastData, (failed + sector) / sector * sector);
        for (std::uint64_t s = std::min(lastSplit, failed) / sector * sector;
             s >= lowest && s > 0 && !budget.spent(); s -= sector) {
            if (nextPieceFree(s) &&
                ZipMembers::dataHolds(evidence, PieceLayout{H, s, gap}, broken, data, budget, in, out)) {
                split = s;
                break;
            }
            if (s < sector) {
                break;
            }
        }
        if (split == 0) {
            return 0;
        }
    }
    // Every other member, where its piece holds it.
    const PieceLayout layout{H, split, gap};
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i == firstAfter - 1) {
            continue;
        }
        const std::uint64_t d = ZipMembers::localData(evidence, layout, members[i]);
        if (d == 0 || !ZipMembers::dataHolds(evidence, layout, members[i], d, budget, in, out)) {
            return 0;
        }
    }
    return split;
}

// Three pieces, the directory found `total` bytes past its offset: a stored member's data split
// twice, its middle piece `gap1` bytes on and its last piece `total` on, where the member's
// CRC-32 proves the two splits and the middle piece's place; every other member must then hold
// where its piece puts it. The layout, or nothing. The member's data spans at most
// `maxThreeSectors` sectors: every pair of splits is tried for each gap.
constexpr std::uint64_t maxThreeSectors = 64;

std::optional<PieceLayout> provenThree(EvidenceReader& evidence, std::uint64_t H, std::uint64_t total,
                                       std::uint64_t cdOffset, const std::vector<ZipMember>& members,
                                       const ClusterClaims& claims, JoinBudget& budget) {
    const PieceLayout before{H, ~std::uint64_t{0}, 0};
    std::size_t firstAfter = 0;
    while (firstAfter < members.size() && ZipMembers::localData(evidence, before, members[firstAfter]) != 0) {
        ++firstAfter;
    }
    if (firstAfter == 0 || total < 2 * sector || total > 2 * FragmentJoin::maxGap) {
        return std::nullopt;
    }
    const ZipMember& broken = members[firstAfter - 1];
    const std::uint64_t data = ZipMembers::localData(evidence, before, broken);
    const std::uint64_t dataEnd = data + broken.compressed;
    const std::uint64_t limit = firstAfter < members.size() ? members[firstAfter].offset : cdOffset;
    if (broken.method != 0 || broken.compressed != broken.size || dataEnd > limit) {
        return std::nullopt;
    }
    // The splits: sector starts from the data's first sector (inclusive when the data begins on
    // it) to its end's.
    const std::uint64_t firstSplit = (data + sector - 1) / sector * sector;
    const std::uint64_t lastSplit =
        std::min((dataEnd + sector - 1) / sector * sector, limit / sector * sector);
    if (firstSplit >= lastSplit || (lastSplit - firstSplit) / sector > maxThreeSectors) {
        return std::nullopt;
    }
    const std::size_t n = static_cast<std::size_t>((lastSplit - firstSplit) / sector);
    std::vector<unsigned char> buffer(sector);
    auto crcOf = [&](std::uint64_t at, std::uint64_t length) {
        uLong crc = crc32(0L, Z_NULL, 0);
        for (std::uint64_t done = 0; done < length;) {
            const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, buffer.size()));
            evidence.readAt(static_cast<std::int64_t>(at + done), buffer.data(), k);
            crc = crc32(crc, buffer.data(), static_cast<uInt>(k));
            done += k;
        }
        return static_cast<std::uint32_t>(crc);
    };
    // The data before each split as it lies, and from each split on in the last piece.
    std::vector<std::uint32_t> head(n + 1);
    std::vector<std::uint32_t> tail(n + 1);
    for (std::size_t i = 0; i <= n; ++i) {
        const std::uint64_t split = std::max(firstSplit + i * sector, data);
        const std::uint64_t end = std::min(split, dataEnd);
        head[i] = crcOf(H + data, end - data);
        tail[i] = crcOf(H + end + total, dataEnd - end);
    }
    if (!budget.spend(2 * (n + 1) * broken.compressed)) {
        return std::nullopt;
    }
    std::vector<unsigned char> in(65536);
    std::vector<unsigned char> out(65536);
    std::vector<std::uint32_t> middle(n);
    for (std::uint64_t gap1 = sector; gap1 + sector <= total && gap1 <= FragmentJoin::maxGap;
         gap1 += sector) {
        if (!budget.spend(n * sector, n * n / 2 + 1)) {
            return std::nullopt;
        }
        for (std::size_t k = 0; k < n; ++k) {
            middle[k] = crcOf(H + firstSplit + k * sector + gap1, sector);
        }
        // Whole sectors between the splits, the middle piece; the data's last sector may be
        // partial only in the last piece.
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t s1 = firstSplit + i * sector;
            if (s1 == 0) {
                continue;
            }
            uLong crc = head[i];
            for (std::size_t j = i + 1; j <= n; ++j) {
                const std::uint64_t s2 = firstSplit + j * sector;
                if (s2 > dataEnd) {
                    break;
                }
                crc = crc32_combine(crc, middle[j - 1], static_cast<z_off_t>(sector));
                const uLong whole = crc32_combine(crc, tail[j], static_cast<z_off_t>(dataEnd - s2));
                if (whole != broken.crc) {
                    continue;
                }
                const PieceLayout layout{H, s1, gap1, s2, total};
                // A piece may start with the header of the file the member holds (a stored
                // picture): its CRC-32 proves it the member's data, so only a piece that starts
                // past the data may not start an indexed file.
                bool free = true;
                for (std::uint64_t at = s1; free && at < cdOffset; at += sector) {
                    const auto evidenceAt = static_cast<std::int64_t>(layout.at(at));
                    free = !claims.claimed(evidenceAt) &&
                           ((at != s1 && at != s2) || at < dataEnd || !claims.taken(evidenceAt));
                }
                bool holds = free;
                for (std::size_t m = 0; holds && m < members.size(); ++m) {
                    const std::uint64_t d = ZipMembers::localData(evidence, layout, members[m]);
                    holds = d != 0 && ZipMembers::dataHolds(evidence, layout, members[m], d, budget, in, out);
                }
                if (holds) {
                    return layout;
                }
            }
        }
    }
    return std::nullopt;
}
} // namespace

std::optional<std::vector<Piece>> FragmentJoin::zip(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char head[30] = {};
    evidence.readAt(H, head, sizeof head);
    if (H < 0 || start >= size || std::memcmp(head, "PK\x03\x04", 4) != 0) {
        return std::nullopt;
    }
    // Each end record from the first local header on, in order, until one that names this
    // archive: its directory lists a first member at offset 0 under the first local header's name.
    std::vector<unsigned char> block(65536 + 3);
    const std::uint64_t searchEnd = std::min(size, start + maxSearch);
    for (std::uint64_t B = start; B < searchEnd; B += 65536) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - B));
        if (!budget.spend(n)) {
            return std::nullopt;
        }
        evidence.readAt(static_cast<std::int64_t>(B), block.data(), n);
        for (std::size_t i = 0; i + 4 <= n && i < 65536; ++i) {
            if (block[i] != 'P' || std::memcmp(&block[i], "PK\x05\x06", 4) != 0) {
                continue;
            }
            const std::uint64_t E = B + i;
            unsigned char record[22] = {};
            evidence.readAt(static_cast<std::int64_t>(E), record, sizeof record);
            const std::uint64_t count = le16(record + 10);
            const std::uint64_t cdLength = le32(record + 12);
            const std::uint64_t cdOffset = le32(record + 16);
            if (count == 0 || cdLength > E - start || E - cdLength < start + cdOffset) {
                continue;
            }
            const std::uint64_t D = E - cdLength;
            const std::uint64_t gap = D - start - cdOffset;
            const auto members = ZipMembers::readDirectory(evidence, D, cdLength, count);
            // ZIP64 archives are not followed.
            if (!members || members->front().offset != 0 ||
                std::any_of(members->begin(), members->end(), [](const ZipMember& m) { return m.zip64; })) {
                continue;
            }
            if (gap == 0) {
                return std::nullopt; // whole where its directory says: nothing to reassemble
            }
            if (gap % sector != 0) {
                continue;
            }
            const std::uint64_t split = provenSplit(evidence, start, gap, cdOffset, *members, claims, budget);
            const std::uint64_t end = E + 22 + le16(record + 20);
            if (split != 0) {
                return std::vector<Piece>{Piece{H, split},
                                          Piece{static_cast<std::int64_t>(start + split + gap),
                                                std::min(end, size) - (start + split + gap)}};
            }
            if (const auto three = provenThree(evidence, start, gap, cdOffset, *members, claims, budget)) {
                const std::uint64_t middle = three->split + three->gap;
                const std::uint64_t last = three->split2 + three->gap2;
                return std::vector<Piece>{
                    Piece{H, three->split},
                    Piece{static_cast<std::int64_t>(start + middle), three->split2 - three->split},
                    Piece{static_cast<std::int64_t>(start + last), std::min(end, size) - (start + last)}};
            }
        }
    }
    return std::nullopt;
}

} // namespace morrow
