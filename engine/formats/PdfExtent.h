#pragma once

#include "formats/Extent.h"

#include <cstddef>
#include <cstdint>
#include <vector>

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
//
// A %%EOF that ends the file is taken only when the file's cross-reference proves it: its
// "startxref" (counted from H) points at a cross-reference table or stream whose objects stand as
// "N G obj" at their offsets (a sample of them, spread over the file), and so do the sections
// before it by /Prev. Else the file is broken where its objects stop standing, or, when the
// section belongs to a file that starts later (the search ran into another file's end), before
// that file's start: it is truncated after the last "endobj" before the break. With no
// "startxref" to follow, the %%EOF is kept, truncated.
class PdfExtent {
  public:
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // True when the file `length` bytes at H ends with a %%EOF that its cross-reference proves,
    // as measure() asks of a last %%EOF.
    static bool endProven(EvidenceReader& evidence, std::int64_t H, std::uint64_t length);

    // For a linearized file whose dictionary gives the file length L (/L): true when a %%EOF and
    // its line end (CR LF, LF or CR) end exactly L bytes after H, or %%EOF ends there and so does
    // the evidence. False when L bytes are not in the evidence.
    static bool linearizedLengthAgrees(EvidenceReader& evidence, std::int64_t H, std::uint64_t L);

    // What a PDF measured `length` bytes at H points at: the data of every stream object that its
    // cross-reference sections (from the "startxref" before its last %%EOF, back through /Prev)
    // place where the object stands, /Length bytes from the line end after "stream" when /Length
    // is a number, else to "endstream". None for a file that ends in no such %%EOF.
    static void parts(EvidenceReader& evidence, std::int64_t H, std::uint64_t length,
                      std::vector<Part>& parts);

    static constexpr std::size_t blockSize = 65536;
    // The longest run of bytes without an object end that the search takes to be this PDF's:
    // one object (a stream) of that size.
    static constexpr std::uint64_t maxObjectGap = std::uint64_t{64} << 20;
    // Updates whose %%EOF is proved on the way, at most; and how often the search notes its last
    // object end.
    static constexpr int maxProofs = 16;
    static constexpr std::uint64_t markStep = std::uint64_t{1} << 20;
};

} // namespace morrow
