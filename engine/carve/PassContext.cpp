#include "carve/PassContext.h"

#include "carve/CarvePass.h"
#include "formats/FragmentJoin.h"
#include "search/HexText.h"

#include <algorithm>

namespace morrow {

std::string CarvePass::headerBytes(const std::string& hex) const {
    return exactEnds ? HexText::toRawBytes(hex) : HexText::toBytes(hex);
}

bool PassContext::carve(const CarvePass& pass, std::int64_t number, std::int64_t offset, std::uint64_t length,
                        std::uint64_t spaceNeeded, const std::string& extension) {
    CarvedFile file;
    file.evidencePath = pass.evidencePath;
    file.type = pass.type;
    file.kindTag = pass.kindTag;
    file.number = number;
    file.runs = {ByteRun{offset, length}};
    file.spaceNeeded = spaceNeeded;
    file.path = carvedFilePath(pass.evidencePath, pass.kindTag, number, extension);
    return carve(file);
}

std::optional<std::vector<Piece>> PassContext::search(FileTypeId type, EvidenceReader& evidence,
                                                      std::int64_t H, JoinBudget& run) {
    class Claims final : public ClusterClaims {
      public:
        Claims(const PassContext& context, FileTypeId type) : context_(context), type_(type) {}
        bool taken(std::int64_t sector) const override { return context_.sectorTaken(sector, type_, true); }
        bool claimed(std::int64_t sector) const override {
            return context_.sectorTaken(sector, type_, false);
        }

      private:
        const PassContext& context_;
        FileTypeId type_;
    } claims(*this, type);
    // One candidate's share of what the evidence file's searches may still do.
    const std::uint64_t bytes = std::min(FragmentJoin::candidateBytes, run.bytesLeft() / 4);
    const std::uint64_t joins = std::min(FragmentJoin::candidateJoins, run.joinsLeft());
    JoinBudget one(bytes, joins);
    one.watch(evidence);
    auto pieces = FragmentJoin::join(type, evidence, H, claims, one);
    run.spend(bytes - one.bytesLeft(), joins - one.joinsLeft());
    // A search cut short by its allowance is no answer to keep.
    if (measuringOnly() && !one.spent()) {
        rememberJoin(type, H, pieces);
    }
    return pieces;
}

bool PassContext::carveJoined(const CarvePass& pass, EvidenceReader& evidence, std::int64_t number,
                              std::int64_t H, const std::string& extension, std::vector<ByteRun>& runs,
                              std::string (*name)(EvidenceReader&, const std::vector<Piece>&)) {
    runs.clear();
    JoinBudget* run = joinBudget(pass.type);
    if (!pass.reassemble || run == nullptr || !FragmentJoin::provable(pass.type)) {
        return true;
    }
    std::optional<std::vector<Piece>> pieces;
    const std::optional<std::vector<Piece>>* known = measuringOnly() ? nullptr : rememberedJoin(pass.type, H);
    // Taken as remembered unless a file carved since holds a piece the join found.
    if (known != nullptr && *known) {
        for (std::size_t i = 1; i < (*known)->size(); ++i) {
            if (sectorTaken((**known)[i].offset, pass.type, false)) {
                known = nullptr;
                break;
            }
        }
    }
    if (known != nullptr) {
        pieces = *known;
    } else if (run->spent()) {
        return true;
    } else {
        pieces = search(pass.type, evidence, H, *run);
    }
    if (pieces && pieces->size() == 1) {
        // Proven whole: the carver carves it as the exact mode does, and its bytes are claimed,
        // unless a file of another kind holds them (a movie's frame): they are that file's.
        if (!sectorTaken(pieces->front().offset, pass.type, false)) {
            claimWhole(pieces->front().offset, pieces->front().length);
        }
        return true;
    }
    if (!pieces) {
        return true;
    }
    CarvedFile file;
    file.evidencePath = pass.evidencePath;
    file.type = pass.type;
    file.kindTag = pass.kindTag;
    file.number = number;
    for (const Piece& piece : *pieces) {
        file.runs.push_back(ByteRun{piece.offset, piece.length});
    }
    file.spaceNeeded = file.length();
    file.path =
        carvedFilePath(pass.evidencePath, pass.kindTag, number, name ? name(evidence, *pieces) : extension);
    runs = file.runs;
    return carve(file);
}

} // namespace morrow
