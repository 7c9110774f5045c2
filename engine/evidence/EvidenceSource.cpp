#include "evidence/EvidenceSource.h"

#include "evidence/RawEvidence.h"
#include "evidence/SplitRawEvidence.h"

namespace morrow {

// The kind of evidence is told by its name: a first piece of a split image (`.001`, `.aa`) whose
// next piece is there is read with the pieces that follow it. Everything else, block devices
// included, is a raw image.
std::unique_ptr<EvidenceSource> openEvidenceSource(const std::string& path, std::string& error) {
    auto raw = RawEvidence::open(path, error);
    if (!raw) {
        return nullptr;
    }
    const std::vector<std::string> pieces = SplitRawEvidence::pieceNames(path);
    if (pieces.size() > 1) {
        raw.reset();
        return SplitRawEvidence::open(pieces, error);
    }
    return raw;
}

} // namespace morrow
