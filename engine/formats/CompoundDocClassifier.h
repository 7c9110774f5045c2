#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morrow {

class EvidenceReader;

// Chooses the extension of a compound document from the stream names in its directory:
// ".doc" (WordDocument), ".xls" (Workbook, Book), ".ppt" (PowerPoint Document, PP40), ".db"
// (Catalog, the thumbnail cache), or ".ukn" when none of them turns up.
class CompoundDocClassifier {
  public:
    // `H` is the document's header offset in the evidence.
    //
    // `table` holds allocation-table entries (free -1, end of chain -2, FAT sector -4, DIFAT
    // sector -3, else the next sector) starting with entry `firstIndex`; `tableSize` is the
    // number of entries of the whole table, or -1 when `table` is the whole table. The directory
    // walk reads entries from the first directory sector on, in index order, so the caller may
    // hand over only that part; the walk ends where the entries handed over end.
    //
    // The directory sectors searched are appended to `searched` when it is given.
    static std::string classify(EvidenceReader& evidence, std::int64_t H,
                                const std::vector<std::int64_t>& table, std::int64_t firstIndex = 0,
                                std::int64_t tableSize = -1, std::vector<std::uint64_t>* searched = nullptr);
};

} // namespace morrow
