// AVI's proof of a join (the RIFF chunk chain; the legacy index 'idx1'): every chunk of the file
// is a four-character code and a little-endian size, chained one after another, and the index
// after the 'movi' list gives each stream chunk's code, size and offset. The chain as it lies
// breaks where a chunk ends on no chunk; the index found a sector multiple past the end of the
// 'movi' list gives the gap, and every chunk it lists must stand, code and size, in the piece that
// holds it, those before the split in the first and the rest in the next. The split is the one
// sector start between the last chunk of the first piece and the first of the next.
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"

#include <algorithm>
#include <cstring>

namespace morrow {

namespace {

constexpr std::uint64_t sector = limits::sectorSize;
constexpr std::uint64_t maxEntries = std::uint64_t{1} << 22;

bool code(const unsigned char* p) {
    return std::all_of(p, p + 4, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// The chunk at the evidence offset P is `id` of `size` bytes.
bool chunkAt(EvidenceReader& evidence, std::uint64_t P, const unsigned char* id, std::uint32_t size) {
    unsigned char head[8] = {};
    evidence.readAt(static_cast<std::int64_t>(P), head, sizeof head);
    return std::memcmp(head, id, 4) == 0 && le32(head + 4) == size;
}

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::avi(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    const auto start = static_cast<std::uint64_t>(H);
    unsigned char head[12] = {};
    if (H < 0 || start >= size || evidence.readAt(H, head, sizeof head) != sizeof head ||
        std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0) {
        return std::nullopt;
    }
    const std::uint64_t riffEnd = 8 + std::uint64_t{le32(head + 4)};
    // The chain as it lies, into the 'movi' list, to the first chunk that is none.
    std::uint64_t at = 12;
    std::uint64_t end = riffEnd;
    std::uint64_t movi = 0;    // the offset of the 'movi' code
    std::uint64_t moviEnd = 0; // where the list ends: the index follows
    std::uint64_t lastFirst = 0;
    for (int chunks = 0; at + 8 <= end && chunks < 1 << 20; ++chunks) {
        unsigned char chunk[12] = {};
        evidence.readAt(static_cast<std::int64_t>(start + at), chunk, sizeof chunk);
        const std::uint64_t length = le32(chunk + 4);
        if (!code(chunk) || 8 + length > end - at) {
            break;
        }
        lastFirst = at + 8;
        if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "movi", 4) == 0) {
            movi = at + 8;
            moviEnd = at + 8 + length;
            end = moviEnd;
            at += 12;
            continue;
        }
        at += 8 + length + (length & 1);
        if (at == moviEnd) {
            end = riffEnd; // the 'movi' list whole as it lies: the index follows
        }
    }
    if (movi == 0 || moviEnd + 8 > riffEnd || at >= riffEnd) { // whole as it lies, or no movie
        return std::nullopt;
    }
    // The index past the end of the 'movi' list, a sector multiple further on.
    for (std::uint64_t gap = sector; gap <= maxGap && start + riffEnd + gap <= size; gap += sector) {
        if (!budget.spend(sector)) {
            return std::nullopt;
        }
        unsigned char index[8] = {};
        evidence.readAt(static_cast<std::int64_t>(start + moviEnd + gap), index, sizeof index);
        const std::uint64_t length = le32(index + 4);
        if (std::memcmp(index, "idx1", 4) != 0 || length % 16 != 0 || length / 16 > maxEntries ||
            moviEnd + 8 + length > riffEnd || length == 0 || !budget.spend(length, 1)) {
            continue;
        }
        std::vector<unsigned char> entries(static_cast<std::size_t>(length));
        evidence.readAt(static_cast<std::int64_t>(start + moviEnd + gap + 8), entries.data(), entries.size());
        // Offsets from the 'movi' code, or (some writers) from the file's first byte.
        bool proven = false;
        std::uint64_t first = lastFirst;
        std::uint64_t next = moviEnd;
        for (const std::uint64_t base : {movi, std::uint64_t{0}}) {
            first = lastFirst;
            next = moviEnd;
            bool all = true;
            for (std::size_t e = 0; e < entries.size() && all; e += 16) {
                const unsigned char* entry = &entries[e];
                const std::uint64_t offset = base + le32(entry + 8);
                const std::uint32_t chunkSize = le32(entry + 12);
                if (offset < movi || offset + 8 + chunkSize > moviEnd) {
                    all = false;
                    break;
                }
                const bool one = chunkAt(evidence, start + offset, entry, chunkSize);
                const bool two = chunkAt(evidence, start + offset + gap, entry, chunkSize);
                if (one && !two) {
                    first = std::max(first, offset + 8);
                } else if (two && !one) {
                    next = std::min(next, offset);
                } else if (!one) {
                    all = false;
                }
            }
            if (all && first <= next) {
                proven = true;
                break;
            }
        }
        const std::uint64_t split = (first + sector - 1) / sector * sector;
        if (!proven || split == 0 || split > next || split + sector <= next) {
            continue; // no sector start, or more than one, between the pieces
        }
        const std::uint64_t piece = start + split + gap;
        if (claims.taken(static_cast<std::int64_t>(piece))) {
            return std::nullopt;
        }
        for (std::uint64_t s = piece; s < start + riffEnd + gap; s += sector) {
            if (claims.claimed(static_cast<std::int64_t>(s))) {
                return std::nullopt;
            }
        }
        return std::vector<Piece>{Piece{H, split}, Piece{static_cast<std::int64_t>(piece), riffEnd - split}};
    }
    return std::nullopt;
}

} // namespace morrow
