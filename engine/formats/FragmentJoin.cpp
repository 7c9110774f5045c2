#include "formats/FragmentJoin.h"

#include "evidence/EvidenceReader.h"

#include <algorithm>

namespace morrow {

void PieceLayout::read(EvidenceReader& evidence, std::uint64_t offset, unsigned char* out,
                       std::size_t n) const {
    for (const std::uint64_t boundary : {split, split2}) {
        if (offset < boundary && offset + n > boundary) {
            const auto first = static_cast<std::size_t>(boundary - offset);
            read(evidence, offset, out, first);
            read(evidence, boundary, out + first, n - first);
            return;
        }
    }
    evidence.readAt(static_cast<std::int64_t>(at(offset)), out, n);
}

bool FragmentJoin::provable(FileTypeId type) {
    return type == kind::Png || type == kind::Zip || type == kind::Jpeg || type == kind::Gif ||
           type == kind::Pdf || type == kind::VideoQuickTime || type == kind::VideoRiff || type == kind::VideoAsf ||
           type == kind::CompoundDoc;
}

namespace {

std::optional<std::vector<Piece>> joinOf(FileTypeId type, EvidenceReader& evidence, std::int64_t H,
                                         const ClusterClaims& claims, JoinBudget& budget) {
    switch (type) {
    case kind::Png:
        return FragmentJoin::png(evidence, H, claims, budget);
    case kind::Jpeg:
        return FragmentJoin::jpeg(evidence, H, claims, budget);
    case kind::Gif:
        return FragmentJoin::gif(evidence, H, claims, budget);
    case kind::Zip:
        return FragmentJoin::zip(evidence, H, claims, budget);
    case kind::Pdf:
        return FragmentJoin::pdf(evidence, H, claims, budget);
    case kind::VideoQuickTime:
        return FragmentJoin::quickTime(evidence, H, claims, budget);
    case kind::VideoRiff:
        return FragmentJoin::avi(evidence, H, claims, budget);
    case kind::VideoAsf:
        return FragmentJoin::asf(evidence, H, claims, budget);
    case kind::CompoundDoc:
        return FragmentJoin::compoundDoc(evidence, H, claims, budget);
    default:
        return std::nullopt;
    }
}

// A copy of the file at H that begins between H's first piece and a piece found at `piece` (the
// file's bytes from `offset` on), and breaks before `offset` itself: the piece goes on the nearer
// start as well as H's, and a file system that fills its free clusters in order leaves a file's
// pieces after its own start, not past another file's. Its first sector (or as much of it as H's
// first piece holds) must match H's.
bool brokenCopyBefore(EvidenceReader& evidence, std::int64_t H, std::uint64_t firstLength, std::int64_t piece,
                      std::uint64_t offset) {
    constexpr std::int64_t sector = 512;
    const auto compared = static_cast<std::size_t>(std::min<std::uint64_t>(firstLength, sector));
    unsigned char head[sector] = {};
    if (compared == 0 || evidence.readAt(H, head, compared) != compared) {
        return false;
    }
    const std::int64_t to = piece - static_cast<std::int64_t>(offset);
    // As far back as a search for a piece goes.
    const std::int64_t from = std::max(H + static_cast<std::int64_t>((firstLength + sector - 1) / sector * sector),
                                       to - static_cast<std::int64_t>(FragmentJoin::maxGap));
    unsigned char other[sector] = {};
    unsigned char mine[sector] = {};
    for (std::int64_t X = from; X < to; X += sector) {
        if (evidence.readAt(X, other, compared) != compared || !std::equal(head, head + compared, other)) {
            continue;
        }
        // Whole as it lies at `offset`, the copy needs no piece from elsewhere.
        if (evidence.readAt(X + static_cast<std::int64_t>(offset), other, sector) == sector &&
            evidence.readAt(piece, mine, sector) == sector && !std::equal(mine, mine + sector, other)) {
            return true;
        }
    }
    return false;
}

// A piece that stands exactly where it would in another file beginning as this one does is that
// file's: a second copy of the same file (or one made alike by the same program) proves a join as
// well as the missing piece would. The first such piece, if any.
std::optional<Piece> pieceOfACopy(EvidenceReader& evidence, std::int64_t H, const std::vector<Piece>& pieces,
                                  bool nearerCopies) {
    constexpr std::size_t compared = 16;
    unsigned char head[compared] = {};
    if (evidence.readAt(H, head, compared) != compared) {
        return std::nullopt;
    }
    std::uint64_t offset = pieces.front().length;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::int64_t origin = pieces[i].offset - static_cast<std::int64_t>(offset);
        unsigned char other[compared] = {};
        if (origin >= 0 && origin != H && evidence.readAt(origin, other, compared) == compared &&
            std::equal(head, head + compared, other)) {
            return pieces[i];
        }
        if (nearerCopies && brokenCopyBefore(evidence, H, pieces.front().length, pieces[i].offset, offset)) {
            return pieces[i];
        }
        offset += pieces[i].length;
    }
    return std::nullopt;
}

// The run's claims, and the pieces of copies a search has taken: it searches again past them.
class CopiesExcluded final : public ClusterClaims {
  public:
    explicit CopiesExcluded(const ClusterClaims& run) : run_(run) {}
    bool taken(std::int64_t sector) const override { return run_.taken(sector) || excluded(sector); }
    bool claimed(std::int64_t sector) const override { return run_.claimed(sector) || excluded(sector); }
    void exclude(const Piece& piece) { pieces_.push_back(piece); }

  private:
    bool excluded(std::int64_t sector) const {
        return std::any_of(pieces_.begin(), pieces_.end(), [&](const Piece& p) {
            return sector >= p.offset && sector < p.offset + static_cast<std::int64_t>(p.length);
        });
    }
    const ClusterClaims& run_;
    std::vector<Piece> pieces_;
};

} // namespace

std::optional<std::vector<Piece>> FragmentJoin::join(FileTypeId type, EvidenceReader& evidence,
                                                     std::int64_t H, const ClusterClaims& claims,
                                                     JoinBudget& budget) {
    CopiesExcluded searched(claims);
    for (int search = 0; search < maxCopiesPassed + 1; ++search) {
        auto pieces = joinOf(type, evidence, H, searched, budget);
        if (!pieces || pieces->size() < 2) {
            return pieces;
        }
        // A JPEG's trial decodes take any piece that decodes on, a broken copy's too; the joins
        // proven by offsets or checksums find their own file's first.
        const auto copy = pieceOfACopy(evidence, H, *pieces, type == kind::Jpeg);
        if (!copy) {
            return pieces;
        }
        searched.exclude(*copy);
    }
    return std::nullopt;
}

} // namespace morrow
