// PNG's proof of a join: a chunk broken by the split has its CRC-32 (over its type and data) hold
// only over the right bytes of the next piece, and the walk from there runs on, chunk by chunk,
// each with its own CRC, to IEND.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/SplitCrc.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
constexpr std::uint32_t maxChunkLength = 0x7FFFFFFF;
// A broken chunk longer than this is not searched: its splits alone would cost too much.
constexpr std::uint64_t maxJoinedChunk = std::uint64_t{16} << 20;

bool letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A chunk's length and type could stand at `head`.
bool chunkHead(const unsigned char* head) {
    return be32(head) <= maxChunkLength && letter(head[4]) && letter(head[5]) && letter(head[6]) &&
           letter(head[7]);
}

struct Walk {
    std::uint64_t pos = 0; // the end of the last chunk whose CRC held
    bool ended = false;    // that chunk was IEND
};

// Walks whole chunks from `pos` over the evidence as it lies, each checked by its CRC.
Walk walkChunks(EvidenceReader& evidence, std::uint64_t pos, JoinBudget& budget,
                std::vector<unsigned char>& block) {
    const std::uint64_t size = evidence.size();
    for (;;) {
        if (pos > size || size - pos < 12) {
            return Walk{pos, false};
        }
        unsigned char head[8] = {};
        evidence.readAt(static_cast<std::int64_t>(pos), head, sizeof head);
        const std::uint32_t length = be32(head);
        if (!chunkHead(head) || size - pos - 12 < length || !budget.spend(length + 12)) {
            return Walk{pos, false};
        }
        uLong crc = crc32(0L, head + 4, 4);
        for (std::uint64_t at = pos + 8, left = length; left > 0;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            evidence.readAt(static_cast<std::int64_t>(at), block.data(), n);
            crc = crc32(crc, block.data(), static_cast<uInt>(n));
            at += n;
            left -= n;
        }
        if (crc != evidence.be32(static_cast<std::int64_t>(pos + 8 + length))) {
            return Walk{pos, false};
        }
        pos += 12 + std::uint64_t{length};
        if (std::memcmp(head + 4, "IEND", 4) == 0) {
            return Walk{pos, length == 0};
        }
    }
}

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::png(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    static constexpr unsigned char signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char head[8 + 8 + 13 + 4] = {};
    evidence.readAt(H, head, sizeof head);
    // The signature and a whole IHDR chunk: a sound start, whatever comes after it.
    if (H < 0 || start >= size || std::memcmp(head, signature, 8) != 0 || be32(head + 8) != 13 ||
        std::memcmp(head + 12, "IHDR", 4) != 0 || crc32(0L, head + 12, 17) != be32(head + 29)) {
        return std::nullopt;
    }
    std::vector<unsigned char> block(65536);
    Walk walk = walkChunks(evidence, start + 33, budget, block);
    if (walk.ended) {
        return std::vector<Piece>{Piece{H, walk.pos - start}}; // whole as it lies, every CRC held
    }
    std::vector<Piece> pieces{Piece{H, 0}};
    while (static_cast<int>(pieces.size()) < maxPieces && !budget.spent()) {
        // The chunk that broke: its length and type are whole in this piece, its data and CRC
        // run on in the next. (A split inside the 8 bytes of a chunk's length and type leaves
        // nothing to prove it by.)
        const std::uint64_t p = walk.pos;
        evidence.readAt(static_cast<std::int64_t>(p), head, 8);
        const std::uint64_t length = be32(head);
        if (!chunkHead(head) || length > maxJoinedChunk) {
            return std::nullopt;
        }
        const std::uint64_t end = p + 12 + length; // where the next chunk begins
        // This piece runs at most to the first sector another file claims.
        std::uint64_t lastSplit = std::min(end - 4, size);
        for (std::uint64_t s = (p + 8 + sector - 1) / sector * sector; s < lastSplit; s += sector) {
            if (claims.taken(static_cast<std::int64_t>(s))) {
                lastSplit = s;
                break;
            }
        }
        SplitCrc crc(evidence, p + 4, end - 4, p + 8, lastSplit, budget);
        if (!crc.any()) {
            return std::nullopt;
        }
        std::optional<std::uint64_t> split;
        std::uint64_t gap = sector;
        for (; gap <= maxGap && end + gap + 12 <= size; gap += sector) {
            if (!budget.spend(sector)) {
                return std::nullopt;
            }
            // After the broken chunk, in the next piece, the next chunk's length and type.
            unsigned char next[8] = {};
            evidence.readAt(static_cast<std::int64_t>(end + gap), next, sizeof next);
            if (!chunkHead(next)) {
                continue;
            }
            split =
                crc.find(gap, evidence.be32(static_cast<std::int64_t>(end + gap - 4)), [&](std::uint64_t s) {
                    // The next piece from its first sector up to the next chunk is no other file's.
                    for (std::uint64_t at = s + gap; at < end + gap; at += sector) {
                        if (claims.taken(static_cast<std::int64_t>(at))) {
                            return false;
                        }
                    }
                    return true;
                });
            if (split) {
                break;
            }
        }
        if (!split) {
            return std::nullopt;
        }
        pieces.back().length = *split - static_cast<std::uint64_t>(pieces.back().offset);
        pieces.push_back(Piece{static_cast<std::int64_t>(*split + gap), 0});
        walk = walkChunks(evidence, end + gap, budget, block);
        // The piece, as far as its chunks hold, is no other file's.
        for (std::uint64_t at = *split + gap; at < walk.pos; at += sector) {
            if (claims.taken(static_cast<std::int64_t>(at))) {
                return std::nullopt;
            }
        }
        if (walk.ended) {
            pieces.back().length = walk.pos - static_cast<std::uint64_t>(pieces.back().offset);
            return pieces;
        }
    }
    return std::nullopt;
}

} // namespace morrow
