#include "formats/FragmentJoin.h"

namespace morrow {

bool FragmentJoin::provable(FileTypeId type) {
    return type == kind::Png || type == kind::Zip || type == kind::Jpeg || type == kind::Gif ||
           type == kind::Pdf || type == kind::VideoQuickTime || type == kind::VideoRiff;
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
    default:
        return std::nullopt;
    }
}

} // namespace morrow
