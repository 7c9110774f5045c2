#pragma once

#include "evidence/EvidenceSource.h"
#include "evidence/RawEvidence.h"

#include <memory>
#include <string>
#include <vector>

namespace morrow {

// A raw image cut into pieces, as `split` or an imager leaves it: `disk.001`, `disk.002`, … or
// `disk.aa`, `disk.ab`, …, read as one image whose bytes are the pieces' one after the other.
// Every piece is a RawEvidence, open for the whole run, so each keeps its own kernel copies, its
// holes and its change checks.
class SplitRawEvidence : public EvidenceSource {
  public:
    // The pieces of the set whose first piece is `firstPath`: `firstPath` itself, then each name
    // that follows it in the numbering, up to the first that does not exist (a gap ends the set).
    // Just `firstPath` when it is not named as a first piece (`.001`, `.01`, `.aa`, `.AA`, …) or
    // when the next piece is missing: such a file is a raw image of its own.
    static std::vector<std::string> pieceNames(const std::string& firstPath);
    // What is wrong with a set whose numbering has a gap: empty when no piece follows the first
    // missing name of `pieces` (as pieceNames gives them) within the next thousand names,
    // otherwise the missing piece and the ones after it that would be left out, in words.
    static std::string gapAfter(const std::vector<std::string>& pieces);

    // Opens every piece read-only; null when one cannot be opened, with `error` naming the piece
    // and the system's reason. `paths` holds at least one name, the first piece first.
    static std::unique_ptr<SplitRawEvidence> open(const std::vector<std::string>& paths, std::string& error);

    // The first piece's path.
    const std::string& path() const override { return path_; }
    // The pieces' sizes added up, in bytes.
    std::uint64_t size() const override { return size_; }
    // A read that spans pieces is served by each in turn.
    std::size_t read(std::uint64_t offset, void* out, std::size_t length) override;
    CopyResult copyTo(OutputFile& out, std::uint64_t offset, std::uint64_t length) override;
    void adviseSequential() override;
    std::uint64_t nextData(std::uint64_t offset) override;
    // The first change any piece reports, naming the piece.
    std::string changed() override;
    // The pieces, in order.
    std::vector<std::string> segments() const override;

  private:
    struct Piece {
        std::unique_ptr<RawEvidence> file;
        std::uint64_t start = 0; // where the piece's first byte lies in the whole image
    };
    SplitRawEvidence() = default;
    // The piece holding byte `offset` (below size()).
    std::size_t pieceAt(std::uint64_t offset) const;

    std::string path_;
    std::uint64_t size_ = 0;
    std::vector<Piece> pieces_;
};

} // namespace morrow
