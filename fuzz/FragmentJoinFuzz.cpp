// Reassembly over a fuzzed image whose candidate sits at offset 0: the JPEG and GIF decoders,
// the PNG chunk splits, the ZIP directory, the PDF cross-reference, the movie box, the AVI index,
// the WMV packets and the compound document's tables meet whatever bytes follow a sound start.
// Whatever they join (or prove whole) stays inside the image, in order, and starts with the
// candidate.
#include "FuzzSupport.h"
#include "formats/FragmentJoin.h"

using namespace morrow;

namespace {

class NoClaims final : public ClusterClaims {
  public:
    bool taken(std::int64_t) const override { return false; }
    bool claimed(std::int64_t) const override { return false; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputEvidence input(data, size);
    const NoClaims claims;
    for (const FileTypeId type : {kind::Jpeg, kind::Png, kind::Gif, kind::Zip, kind::Pdf,
                                  kind::VideoQuickTime, kind::VideoRiff, kind::VideoAsf, kind::CompoundDoc}) {
        JoinBudget budget(std::uint64_t{64} << 20, 1 << 16);
        const auto pieces = FragmentJoin::join(type, input.reader, 0, claims, budget);
        if (!pieces) {
            continue;
        }
        fuzz::check(!pieces->empty() && pieces->front().offset == 0, "no piece, or not at the candidate");
        std::uint64_t end = 0;
        for (const Piece& piece : *pieces) {
            fuzz::check(piece.offset >= 0 && static_cast<std::uint64_t>(piece.offset) >= end &&
                            piece.offset + piece.length <= size,
                        "a piece out of order or outside the image");
            end = static_cast<std::uint64_t>(piece.offset) + piece.length;
        }
    }
    return 0;
}
