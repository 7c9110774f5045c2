// AVI's proof of a join (the RIFF chunk chain; the legacy index 'idx1'): every chunk of the file
// is a four-character code and a little-endian size, chained one after another inside its list,
// and the index after the 'movi' list gives each stream chunk's code, size and offset. Read through
// a layout, the whole chain must stand to the file's end and every index entry must name a chunk
// the chain holds. Where the split falls inside a chunk, the chunk's bytes choose it: a Motion-JPEG
// frame must be one JPEG from its start to its end (marker segments, entropy-coded data whose FF
// bytes are stuffed or restart markers, no sector of one byte over and over, its end marker last),
// and a JUNK chunk, room kept for an index written later, holds zeros past its placeholder header.
// The split search shared with ASF and compound documents then takes only a split that alone
// passes (or splits that give the same bytes).
#include "formats/FragmentJoin.h"

#include "base/Limits.h"
#include "evidence/EvidenceReader.h"
#include "formats/AviChunks.h"
#include "formats/JoinSectors.h"
#include "formats/SplitSearch.h"
#include "formats/ThreePieces.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace morrow {

namespace {

using splitsearch::Verdict;

constexpr std::uint64_t sector = limits::sectorSize;
constexpr std::uint64_t maxEntries = std::uint64_t{1} << 22;
// The chunks of one file followed, and the largest chunk whose bytes are checked.
constexpr std::size_t maxChunks = std::size_t{1} << 18;
constexpr std::uint64_t maxChecked = std::uint64_t{4} << 20;
// Lists within lists followed (a movie's are two or three deep).
constexpr int maxDepth = 8;
// The bytes a JUNK chunk may hold before its zeros: the header of the index kept room for.
constexpr std::uint64_t junkHeader = 64;

using avi::Chunk;
using avi::code;

// One walk of the file's chain through a layout.
class Walk {
  public:
    Walk(EvidenceReader& evidence, const PieceLayout& layout, std::uint64_t from, std::uint64_t checkedTo)
        : evidence_(evidence), layout_(layout), from_(from), checkedTo_(checkedTo) {}

    Verdict run() {
        unsigned char head[12] = {};
        read(0, head, sizeof head);
        if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0) {
            return Verdict::fail(11);
        }
        const std::uint64_t end = 8 + std::uint64_t{le32(head + 4)};
        if (!list(12, end, false, 0) || !index()) {
            return Verdict::fail(failAt_);
        }
        return Verdict::pass(end);
    }

    // The offsets of the chunk headers walked, and where the chunk that failed ends.
    std::vector<std::uint64_t> heads;
    // How far the file stood past the layout's last split: headers wholly past it, and chunks
    // checked past it (a sector each where one failed).
    std::uint64_t stood = 0;
    // The bytes of JUNK chunks that must be zeros.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> zeros;
    // A stream is Motion-JPEG.
    bool anyMjpeg() const {
        return std::any_of(mjpeg_.begin(), mjpeg_.end(), [](bool m) { return m; });
    }

  private:
    void read(std::uint64_t at, unsigned char* out, std::size_t n) { layout_.read(evidence_, at, out, n); }
    std::uint64_t lastSplit() const {
        return layout_.split2 != ~std::uint64_t{0} ? layout_.split2 : layout_.split;
    }
    bool fail(std::uint64_t at) {
        failAt_ = at;
        return false;
    }
    // The chunk's bytes [at, at + n) are checked when they may lie about a split tried.
    bool checked(std::uint64_t at, std::uint64_t n) const {
        return n <= maxChecked && at + n > from_ && at < checkedTo_;
    }

    bool list(std::uint64_t at, std::uint64_t end, bool inMovi, int depth) {
        while (at < end) {
            unsigned char head[12] = {};
            heads.push_back(at);
            if (end - at < 8 || heads.size() > maxChunks) {
                return fail(std::min(at + 7, end - 1));
            }
            read(at, head, sizeof head);
            const std::uint64_t size = le32(head + 4);
            if (!code(head) || size > end - at - 8) {
                return fail(at + 7);
            }
            stood += at >= lastSplit() ? 1 : 0;
            const std::uint64_t data = at + 8;
            const std::uint64_t next = data + size + (size & 1);
            const bool isList = std::memcmp(head, "LIST", 4) == 0;
            bool ok = true;
            bool content = false; // the chunk's bytes were checked
            if (isList) {
                const bool movi = size >= 4 && std::memcmp(head + 8, "movi", 4) == 0;
                if (size < 4 || !code(head + 8) || depth >= maxDepth) {
                    return fail(at + 11);
                }
                if (movi) {
                    movi_ = data;
                }
                ok = list(data + 4, data + size, inMovi || movi, depth + 1);
            } else if (std::memcmp(head, "strf", 4) == 0 && size >= 20 && streams_ < mjpeg_.size()) {
                unsigned char compression[4] = {};
                read(data + 16, compression, 4);
                mjpeg_[streams_++] = avi::motionJpeg(compression);
            } else if (std::memcmp(head, "JUNK", 4) == 0 && checked(data, size)) {
                zeros.emplace_back(data + std::min(size, junkHeader), data + size);
                ok = junk(data, size);
                content = true;
            } else if (inMovi && checked(data, size) && frameOfMjpeg(head)) {
                ok = frame(data, size);
                content = true;
            }
            if (inMovi && !isList) {
                if (chunks_.size() >= maxChunks) {
                    return fail(at + 7);
                }
                Chunk chunk{at, static_cast<std::uint32_t>(size), {}};
                std::memcpy(chunk.id, head, 4);
                chunks_.push_back(chunk);
            }
            if (!ok) {
                heads.push_back(next); // the next header past the chunk that failed
                const std::uint64_t from = std::max(lastSplit(), data);
                stood += failAt_ > from ? (failAt_ - from) / sector : 0;
                return false;
            }
            stood += content && data + size > lastSplit() ? 1 : 0;
            if (std::memcmp(head, "idx1", 4) == 0 && !inMovi) {
                index_ = at;
            }
            at = next;
        }
        return true;
    }

    bool frameOfMjpeg(const unsigned char* id) const {
        const int stream = avi::frameStream(id);
        return stream >= 0 && static_cast<std::size_t>(stream) < streams_ &&
               mjpeg_[static_cast<std::size_t>(stream)];
    }

    bool junk(std::uint64_t at, std::uint64_t n) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(n));
        read(at, bytes.data(), bytes.size());
        for (std::size_t i = static_cast<std::size_t>(std::min(n, junkHeader)); i < bytes.size(); ++i) {
            if (bytes[i] != 0) {
                return fail(at + i);
            }
        }
        return true;
    }

    // One Motion-JPEG frame filling [at, at + n), zeros after its end marker.
    bool frame(std::uint64_t at, std::uint64_t n) {
        std::vector<unsigned char> b(static_cast<std::size_t>(n));
        read(at, b.data(), b.size());
        const avi::FrameMarkers walk = avi::frameMarkers(b.data(), b.size(), n, true);
        if (!walk.ok) {
            return fail(at + walk.failAt);
        }
        const std::size_t i = walk.end;
        const std::size_t entropy = walk.entropy;
        for (std::size_t k = i; k < b.size(); ++k) {
            if (b[k] != 0) {
                return fail(at + k);
            }
        }
        // No sector of the file wholly in the coded data is one byte over and over.
        if (entropy != 0) {
            for (std::uint64_t s = (at + entropy + sector - 1) / sector * sector; s + sector <= at + i - 2;
                 s += sector) {
                if (JoinSectors::constant(&b[static_cast<std::size_t>(s - at)], sector)) {
                    return fail(s + sector - 1);
                }
            }
        }
        return true;
    }

    // Every entry of the index names a chunk of the 'movi' list, its offset from the 'movi' code
    // or (some writers) from the file's first byte.
    bool index() {
        if (index_ == 0 || movi_ == 0) {
            return true;
        }
        unsigned char head[8] = {};
        read(index_, head, sizeof head);
        const std::uint64_t length = le32(head + 4);
        if (length % 16 != 0 || length / 16 > maxEntries) {
            return fail(index_ + 7);
        }
        avi::IndexCheck entries(chunks_, movi_);
        std::vector<unsigned char> block(std::size_t{16} << 12);
        for (std::uint64_t e = 0; e < length && entries.whole(); e += block.size()) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - e));
            read(index_ + 8 + e, block.data(), n);
            entries.add(block.data(), n);
        }
        // The base that stood the longer is the writer's.
        return entries.whole() || fail(index_ + 8 + entries.stood() * 16 + 15);
    }

    EvidenceReader& evidence_;
    const PieceLayout& layout_;
    std::uint64_t from_;
    std::uint64_t checkedTo_;
    std::uint64_t failAt_ = 0;
    std::uint64_t movi_ = 0;
    std::uint64_t index_ = 0;
    std::array<bool, 100> mjpeg_{};
    std::size_t streams_ = 0;
    std::vector<Chunk> chunks_;
};

// The run's claims, but a piece may begin with a frame of the file's own: a Motion-JPEG frame
// that starts a sector is indexed as a picture, and the join's check proves it this file's.
class OwnFrames final : public ClusterClaims {
  public:
    OwnFrames(const ClusterClaims& run, EvidenceReader& evidence, bool frames)
        : run_(run), evidence_(evidence), frames_(frames) {}
    bool taken(std::int64_t at) const override {
        if (!run_.taken(at)) {
            return false;
        }
        unsigned char head[3] = {};
        return !frames_ || evidence_.readAt(at, head, sizeof head) != sizeof head || head[0] != 0xFF ||
               head[1] != 0xD8 || head[2] != 0xFF;
    }
    bool claimed(std::int64_t at) const override { return run_.claimed(at); }

  private:
    const ClusterClaims& run_;
    EvidenceReader& evidence_;
    bool frames_;
};

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::avi(EvidenceReader& evidence, std::int64_t H,
                                                    const ClusterClaims& claims, JoinBudget& budget) {
    const std::uint64_t size = evidence.size();
    unsigned char head[12] = {};
    if (H < 0 || static_cast<std::uint64_t>(H) >= size ||
        evidence.readAt(H, head, sizeof head) != sizeof head || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "AVI ", 4) != 0) {
        return std::nullopt;
    }
    const auto start = static_cast<std::uint64_t>(H);
    const std::uint64_t riffEnd = 8 + std::uint64_t{le32(head + 4)};
    // The chain as it lies: where a header past a split stands whatever the gap.
    std::vector<std::uint64_t> heads;
    bool frames = false;
    // The zeros of the JUNK chunk the file as it lies fails in, if it does.
    std::pair<std::uint64_t, std::uint64_t> zeros{0, 0};
    {
        const PieceLayout asItLies{start, ~std::uint64_t{0}, 0};
        Walk walk(evidence, asItLies, 0, maxChecked);
        const Verdict whole = walk.run();
        if (whole.ok) {
            return std::nullopt;
        }
        heads = std::move(walk.heads);
        frames = walk.anyMjpeg();
        for (const auto& junk : walk.zeros) {
            if (whole.failAt >= junk.first && whole.failAt < junk.second) {
                zeros = junk;
            }
        }
    }
    std::sort(heads.begin(), heads.end());
    // The splits tried lie within this many bytes of the lowest: the chunks there are checked.
    constexpr std::uint64_t window = (splitsearch::maxSplits + 2) * sector;
    // For a third piece, the headers the walk through the first two walked.
    std::vector<std::uint64_t> lastHeads;
    std::uint64_t lastStood = 0;
    std::vector<std::uint64_t> secondHeads;
    std::uint64_t memoGap = 0;
    std::uint64_t memoAt = 0;
    bool memoThird = false;
    bool memo = false;
    auto quick = [&](const PieceLayout& layout) {
        // The first header not wholly before the (last) split stands past the gap.
        const bool third = layout.split2 != ~std::uint64_t{0};
        const std::vector<std::uint64_t>& walked = third ? secondHeads : heads;
        const std::uint64_t split = third ? layout.split2 : layout.split;
        const std::uint64_t gap = third ? layout.gap2 : layout.gap;
        const auto found = std::upper_bound(walked.begin(), walked.end(), split < 8 ? 0 : split - 8);
        if (found == walked.end() || *found + 8 > riffEnd) {
            return true;
        }
        if (memoGap == gap && memoAt == *found && memoThird == third) {
            return memo;
        }
        unsigned char chunk[8] = {};
        layout.read(evidence, *found, chunk, sizeof chunk);
        memoGap = gap;
        memoAt = *found;
        memoThird = third;
        memo = code(chunk) && le32(chunk + 4) <= riffEnd - *found - 8;
        return memo;
    };
    auto check = [&](const PieceLayout& layout, std::uint64_t from) {
        Walk walk(evidence, layout, from, layout.split == ~std::uint64_t{0} ? maxChecked : from + window);
        const Verdict verdict = walk.run();
        lastHeads = std::move(walk.heads);
        lastStood = walk.stood;
        return verdict;
    };
    const std::uint64_t cost = std::min<std::uint64_t>(std::max<std::uint64_t>(riffEnd, 4096), maxChecked);
    const OwnFrames own(claims, evidence, frames);
    if (auto pieces =
            splitsearch::search(evidence, H, own, budget, cost, splitsearch::maxSplits, check, quick)) {
        return pieces;
    }
    // Two chunks, or a checked sector, standing past the gap vouch for a second piece.
    // A second piece that begins in the JUNK chunk the file broke in begins with its zeros: the
    // header past it may stand in the third.
    auto quickFirst = [&](const PieceLayout& layout) {
        if (layout.split >= zeros.first && layout.split + sector <= zeros.second) {
            std::array<unsigned char, sector> bytes{};
            layout.read(evidence, layout.split, bytes.data(), bytes.size());
            return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; });
        }
        return quick(layout);
    };
    return splitsearch::searchThree(evidence, H, own, budget, cost, splitsearch::maxSplits, check, quickFirst,
                                    quick, [&](const PieceLayout&, const Verdict&) {
                                        if (lastStood < 2) {
                                            return false;
                                        }
                                        secondHeads = lastHeads;
                                        std::sort(secondHeads.begin(), secondHeads.end());
                                        memoGap = 0;
                                        memoAt = 0;
                                        return true;
                                    });
}

} // namespace morrow
