#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a GIF file ends by walking its blocks (the GIF89a document, sections 17 to 27)
// from the header at H to the trailer 3B at the top level. Extensions are skipped by their
// sub-block sizes, so the bytes 00 3B inside them never end the file; each image's data is decoded
// as it goes (appendix F, no pixel made): every LZW code must name an entry, and the codes must
// make exactly the frame's width times height pixels by the block terminator, which follows the
// sub-block that holds the end code, if any. A sub-block walk alone would wander through foreign
// bytes after a break to a chance trailer byte.
class GifExtent {
  public:
    // found(length): the file is `length` bytes from H, up to and including the trailer.
    // found(length, true): after a whole image the walk met a byte that introduces no block, a
    // block that breaks (image data that does not decode), or the end of the evidence; `length`
    // ends after the last whole block.
    // rejected: no GIF87a/GIF89a header, the screen descriptor or its colour table is not whole
    // in the evidence, or the walk breaks or ends before one whole image (descriptor and data).
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // Sub-blocks are stepped through in blocks of this many bytes.
    static constexpr std::uint32_t blockSize = 65536;
};

} // namespace morrow
