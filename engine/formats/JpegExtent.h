#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a JPEG file ends by walking its marker segments (ITU-T T.81 Annex B) from the SOI
// at H: table and application segments by their lengths, so that an Exif thumbnail's FF D9 inside
// APP1 is stepped over; after each start of scan, the entropy-coded data up to the next marker;
// and so on to the first EOI at the top level, the last two bytes of the file.
//
// A baseline picture's scans (SOF0, SOF1, 8-bit samples) are decoded with the file's own Huffman
// tables over their first decodedBytes: every code valid, no block past its 64 coefficients,
// restart markers in sequence, exactly the scan's number of MCUs and then a marker. Past that the
// markers alone are walked, and a sign of a break (a marker other than EOI after the data, a
// restart marker out of sequence, a sector of one byte over and over or of text) sends the decode
// on to find it. A walk of the markers alone would run through a gap of zeros, text or another
// picture's data to another file's EOI. Progressive, arithmetic-coded, lossless and hierarchical
// pictures are walked by their markers.
class JpegExtent {
  public:
    // found(length): the file is `length` bytes from H, up to and including its FF D9.
    // found(length, true): the walk broke after a frame header and a scan (a byte that is no
    // marker where one must stand, the evidence ending); `length` ends at the last whole segment
    // or at the end of the scan data seen. Where the decode failed: at the last sector boundary
    // before it (a file system's break stands at one; or past the last restart marker met in
    // sequence), and before any run of one byte that the decode read on into.
    // rejected: no SOI, a walk that breaks or ends before it has read a frame header and a scan
    // (segments alone are no picture), a frame header with impossible values before the first
    // scan, or a scan without a frame before it.
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // The entropy-coded data is read in blocks of this many bytes.
    static constexpr std::uint32_t blockSize = 65536;
    // A baseline scan's data is decoded over its first so many bytes, and further only where
    // the marker walk past them meets a sign of a break.
    static constexpr std::uint64_t decodedBytes = std::uint64_t{64} << 10;
};

} // namespace morrow
