#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

// The values of a compound document's allocation table that name no next sector.
namespace compounddoc {
inline constexpr std::uint32_t freeEntry = 0xFFFFFFFF;
inline constexpr std::uint32_t endOfChainEntry = 0xFFFFFFFE;
inline constexpr std::uint32_t fatSectorEntry = 0xFFFFFFFD;
inline constexpr std::uint32_t difatSectorEntry = 0xFFFFFFFC;
} // namespace compounddoc

class EvidenceReader;
struct Part;
struct Piece;

// One compound document: where it starts, the index of its last sector (the carved length is
// (lastSectorIndex + 1) * 512) and the extension its directory chose.
struct CompoundDocRecord {
    std::int64_t startOffset = 0;
    std::int64_t lastSectorIndex = 0;
    std::string extension;
    // The document holds together in the evidence: a header of 512-byte sectors, allocation
    // sectors that lie in the evidence and are marked as such in their own table, and a
    // directory whose first entry is the root. Random bytes after the signature do not.
    bool sound = false;
};

// Reads a compound document's allocation table and directory: how long the document is and
// which kind of document it holds (CompoundDocClassifier). Memory stays bounded whatever the
// header claims.
class CompoundDocAnalysis {
  public:
    static CompoundDocRecord analyse(EvidenceReader& evidence, std::int64_t H);
    // The extension of a document reassembled from `pieces`, its directory read across them.
    static std::string extension(EvidenceReader& evidence, const std::vector<Piece>& pieces);
    // What a document measured `length` bytes at H points at: every sector its allocation table
    // puts in a chain (a PartsReader).
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);
};

} // namespace morrow
