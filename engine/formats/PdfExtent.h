#pragma once

#include "formats/Extent.h"

#include <cstddef>
#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a PDF file ends: after the %%EOF marker (and its line end) of its last update
// section. After each %%EOF the file goes on when another update section follows (white space,
// then "xref" or an "N G obj" line); otherwise it ends there.
//
// A PDF whose %%EOF was overwritten must not take the rest of the disk with it, so the search
// also stops at another PDF's header at a sector start, and once maxObjectGap bytes went by
// without an "endobj". The file is then truncated after the last "endobj" line or update it had
// (the last object boundary the search saw for free); with none, it is rejected. The price: a
// whole PDF holding a single object larger than maxObjectGap is cut after the object before it.
//
// Rejected as well: no "%PDF-x.y" header at H.
class PdfExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // For a linearized file whose dictionary gives the file length L (/L): true when a %%EOF and
    // its line end (CR LF, LF or CR) end exactly L bytes after H, or %%EOF ends there and so does
    // the evidence. False when L bytes are not in the evidence.
    static bool linearizedLengthAgrees(EvidenceReader& evidence, std::int64_t H, std::uint64_t L);

    static constexpr std::size_t blockSize = 65536;
    // The longest run of bytes without an object end that the search takes to be this PDF's:
    // one object (a stream) of that size.
    static constexpr std::uint64_t maxObjectGap = std::uint64_t{64} << 20;
};

} // namespace morrow
