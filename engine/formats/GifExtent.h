#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a GIF file ends by walking its blocks (the GIF89a document, sections 17 to 27)
// from the header at H to the trailer 3B at the top level. Image data and extensions are skipped
// by their sub-block sizes, so the bytes 00 3B inside image data never end the file.
class GifExtent {
  public:
    // found(length): the file is `length` bytes from H, up to and including the trailer.
    // found(length, true): after a whole image the walk met a byte that introduces no block, a
    // block that breaks, or the end of the evidence; `length` ends after the last whole block.
    // rejected: no GIF87a/GIF89a header, the screen descriptor or its colour table is not whole
    // in the evidence, or the walk breaks or ends before one whole image (descriptor and data).
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // Sub-blocks are stepped through in blocks of this many bytes.
    static constexpr std::uint32_t blockSize = 65536;
};

} // namespace morrow
