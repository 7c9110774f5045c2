#pragma once

#include "base/FileType.h"
#include "evidence/EvidenceReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace morrow {

// What a reassembly may not take for a piece of a file: a sector that starts another indexed
// file, or lies inside a file already carved. The run that searches provides it.
class ClusterClaims {
  public:
    virtual ~ClusterClaims() = default;
    virtual bool taken(std::int64_t sector) const = 0;
    // Inside a file already carved: what a format that holds whole files (an archive's stored
    // members) asks, whose own sectors may well start indexed files.
    virtual bool claimed(std::int64_t sector) const = 0;
};

// The work a reassembly may do, in bytes read and joins tried, so that an image made to look
// like endless broken files costs a bounded multiple of its size. One budget serves one
// candidate, and draws on the evidence file's whole allowance.
class JoinBudget {
  public:
    JoinBudget(std::uint64_t bytes, std::uint64_t joins) : bytes_(bytes), joins_(joins) {}
    // The evidence whose run's Stop ends the work: once it is stopped the allowance counts as
    // spent, so a long search or check gives up at its next step.
    void watch(EvidenceReader& evidence) { watched_ = &evidence; }
    // False once the allowance is spent: the search gives up.
    bool spend(std::uint64_t bytes, std::uint64_t joins = 0) {
        if (bytes > bytes_ || joins > joins_ || (watched_ != nullptr && watched_->stopped())) {
            bytes_ = 0;
            joins_ = 0;
            return false;
        }
        bytes_ -= bytes;
        joins_ -= joins;
        return true;
    }
    bool spent() const { return bytes_ == 0 || joins_ == 0; }
    std::uint64_t bytesLeft() const { return bytes_; }
    std::uint64_t joinsLeft() const { return joins_; }

  private:
    std::uint64_t bytes_;
    std::uint64_t joins_;
    EvidenceReader* watched_ = nullptr;
};

// One stretch of a reassembled file in the evidence.
struct Piece {
    std::int64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const Piece&) const = default;
};

// Where a file's bytes stand when it lies in pieces: offsets in the file from 0 to `split` at H
// on, from `split` on `gap` bytes further, and from `split2` on (a third piece) `gap2` further.
// The joins that prove a layout by the file's own offsets (ZIP, PDF, movies) read through it.
struct PieceLayout {
    std::uint64_t H = 0;
    std::uint64_t split = 0;
    std::uint64_t gap = 0;
    std::uint64_t split2 = ~std::uint64_t{0};
    std::uint64_t gap2 = 0;

    std::uint64_t at(std::uint64_t offset) const {
        return H + offset + (offset >= split2 ? gap2 : offset >= split ? gap : 0);
    }
    // The file's bytes [offset, offset + n), across the pieces' boundaries.
    void read(EvidenceReader& evidence, std::uint64_t offset, unsigned char* out, std::size_t n) const;
};

// Reassembles a file whose structure breaks after a sound start, as a file system that splits a
// file across free clusters leaves it: its first piece at H, then (after a gap of other data)
// the piece where it goes on, and perhaps a third. Files begin at cluster starts, so every piece
// after the first begins at a sector start; the cluster size (512 bytes to 64 KiB) is a multiple
// of the sector, so trying every sector start covers all of them.
//
// A join is taken only when the format itself proves it: a chunk's CRC, a member's CRC-32 at the
// offset the central directory gives, a decode that runs to the file's end. Anything less and the
// file stays as its own reader carves it.
class FragmentJoin {
  public:
    // The kinds whose formats can prove a join.
    static bool provable(FileTypeId type);
    // The pieces of the file at H, in order, when a join was proven; one piece when the file
    // proved whole as it lies (JPEG, PNG, GIF); nothing otherwise.
    static std::optional<std::vector<Piece>> join(FileTypeId type, EvidenceReader& evidence, std::int64_t H,
                                                  const ClusterClaims& claims, JoinBudget& budget);

    // Per kind.
    static std::optional<std::vector<Piece>> png(EvidenceReader& evidence, std::int64_t H,
                                                 const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> jpeg(EvidenceReader& evidence, std::int64_t H,
                                                  const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> gif(EvidenceReader& evidence, std::int64_t H,
                                                 const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> zip(EvidenceReader& evidence, std::int64_t H,
                                                 const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> pdf(EvidenceReader& evidence, std::int64_t H,
                                                 const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> quickTime(EvidenceReader& evidence, std::int64_t H,
                                                       const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> avi(EvidenceReader& evidence, std::int64_t H,
                                                 const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> asf(EvidenceReader& evidence, std::int64_t H,
                                                 const ClusterClaims& claims, JoinBudget& budget);
    static std::optional<std::vector<Piece>> compoundDoc(EvidenceReader& evidence, std::int64_t H,
                                                         const ClusterClaims& claims, JoinBudget& budget);

    // The farthest the next piece is searched past a break: by the format's own checksums or
    // offsets (PNG, ZIP, PDF, QuickTime, AVI, ASF, compound documents), and by decoding trials at every
    // sector (JPEG, GIF).
    static constexpr std::uint64_t maxGap = std::uint64_t{32} << 20;
    static constexpr std::uint64_t maxTrialGap = std::uint64_t{16} << 20;
    // The sector starts tried as the split, back from where a decode of the data as it lies
    // failed: random data (or another file's) fails to decode within a few hundred bytes.
    static constexpr std::size_t splitsTried = 8;
    // Copies of the same file (their pieces standing where the file's would) a search passes over
    // before it gives up.
    static constexpr int maxCopiesPassed = 3;
    // Pieces of one file at most.
    static constexpr int maxPieces = 3;
    // One candidate's allowance.
    static constexpr std::uint64_t candidateBytes = std::uint64_t{256} << 20;
    static constexpr std::uint64_t candidateJoins = 1 << 19;
};

} // namespace morrow
