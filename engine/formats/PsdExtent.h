#pragma once

#include "formats/Extent.h"

#include <cstdint>
#include <vector>

namespace morrow {

class EvidenceReader;

// Finds where a Photoshop document (PSD, or PSB, the large document format) ends: past the file
// header, the three length-prefixed sections (colour mode data, image resources, layer and mask
// information) and the image data section, whose length follows from its compression method:
// raw, RLE (the sum of its byte-count table) or ZIP (the end of its zlib stream).
//
// Rejected: a header with any field out of its range, or a start that is no PSD's start (colour
// mode data of the wrong length for an indexed picture, image resources that begin with no
// resource block). After a sound start, a section or picture that runs past the end of the
// evidence gives a truncated extent to the end of the evidence; a layer section, compression
// method, byte-count table or zlib stream that cannot be one gives a truncated extent to the end
// of the last section that could.
class PsdExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);
    // What its sections point at: the image resources and the layer section (a PartsReader).
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    // The read block of the RLE table and the zlib stream.
    static constexpr std::size_t blockSize = 65536;
};

} // namespace morrow
