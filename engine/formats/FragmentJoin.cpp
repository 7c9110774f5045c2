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
           type == kind::Pdf || type == kind::VideoQuickTime || type == kind::VideoRiff ||
           type == kind::VideoAsf || type == kind::CompoundDoc;
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

// A piece that stands exactly where it would in another file beginning as this one does is that
// file's: a second copy of the same file (or one made alike by the same program) proves a join as
// well as the missing piece would. The first such piece, if any.
std::optional<Piece> pieceOfACopy(EvidenceReader& evidence, std::int64_t H,
                                  const std::vector<Piece>& pieces) {
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
        const auto copy = pieceOfACopy(evidence, H, *pieces);
        if (!copy) {
            return pieces;
        }
        searched.exclude(*copy);
    }
    return std::nullopt;
}

} // namespace morrow
