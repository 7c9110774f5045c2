#pragma once

#include "formats/Extent.h"

#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where an ASF file (WMV, WMA) ends by walking its structure from H: the header object (its
// size and its objects, the File Properties object among them with the one fixed packet size),
// the data object (its file id and packet count as the header gives them), every data packet in
// sequence, each of which must parse (error-correction and length-type flags, payloads filling it
// to its zero padding, send times that never go back), then the index objects that follow, each a
// known GUID and a size that fits (a Simple Index's entries naming packets the file has). The File
// Properties object's file size alone is no end: a truncated file keeps the size it was meant to
// have.
//
// Whole: the end of the last top-level object, where the file size says. Truncated: where the walk
// breaks, at the end of the last packet or object that stood. A packet that parses before one that
// does not may be one cut short whose payload runs into whatever follows, and is left out; where
// the evidence ends, the packets before stood. A file whose packet count was never written (a
// broadcast, or a writer stopped before its end) runs as far as its packets parse, truncated.
//
// Rejected: no header object at H, one that does not stand or gives no fixed packet size, no data
// object after it, or no sound packet.
class AsfExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // The stretch of the file measured `length` bytes at H that its sound data packets fill.
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    // Simple Index entries checked against the packet count.
    static constexpr std::uint64_t maxIndexEntries = std::uint64_t{1} << 22;
};

} // namespace morrow
