#pragma once

#include "formats/Extent.h"

#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where a TIFF file ends by walking its image file directories: the chain from the header's
// first IFD and every IFD that a SubIFDs, Exif, GPS or Interoperability pointer leads to. The file
// ends at the furthest byte that any IFD, out-of-line value, strip, tile or JPEG thumbnail
// references. Classic TIFF and BigTIFF, both byte orders.
//
// Rejected: no byte order mark and magic number, a first IFD outside the evidence, inside the
// header, cut off by the end of the evidence, empty, absurdly long, or with unknown field types in
// most of its entries. Anything that breaks after a sound first IFD (a pointer past the end of
// the evidence, an IFD that is no IFD, a bound reached) gives a truncated extent: what was
// referenced up to there, clipped at the end of the evidence.
class TiffExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);
    // What the directories point at: every strip, tile and JPEG thumbnail (a PartsReader).
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    // Entries one IFD may hold; more is no IFD (real ones hold a few dozen).
    static constexpr std::uint64_t maxEntries = 4096;
    // IFDs and entries one walk visits, and values of one strip or tile array it reads, before it
    // stops and calls the file truncated.
    static constexpr std::uint32_t maxIfds = 16384;
    static constexpr std::uint64_t maxEntriesVisited = std::uint64_t{1} << 18;
    static constexpr std::uint64_t maxArrayValues = std::uint64_t{1} << 20;
};

} // namespace morrow
