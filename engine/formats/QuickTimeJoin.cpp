#include "formats/FragmentJoin.h"
namespace morrow {
std::optional<std::vector<Piece>> FragmentJoin::quickTime(EvidenceReader&, std::int64_t, const ClusterClaims&, JoinBudget&) { return std::nullopt; }
}
