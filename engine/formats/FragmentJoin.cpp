#include "formats/FragmentJoin.h"

#include "evidence/EvidenceReader.h"

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

std::optional<std::vector<Piece>> FragmentJoin::join(FileTypeId type, EvidenceReader& evidence,
                                                     std::int64_t H, const ClusterClaims& claims,
                                                     JoinBudget& budget) {
    switch (type) {
    case kind::Png:
        return png(evidence, H, claims, budget);
    case kind::Jpeg:
        return jpeg(evidence, H, claims, budget);
    case kind::Gif:
        return gif(evidence, H, claims, budget);
    case kind::Zip:
        return zip(evidence, H, claims, budget);
    case kind::Pdf:
        return pdf(evidence, H, claims, budget);
    case kind::VideoQuickTime:
        return quickTime(evidence, H, claims, budget);
    case kind::VideoRiff:
        return avi(evidence, H, claims, budget);
    case kind::VideoAsf:
        return asf(evidence, H, claims, budget);
    case kind::CompoundDoc:
        return compoundDoc(evidence, H, claims, budget);
    default:
        return std::nullopt;
    }
}

} // namespace morrow
