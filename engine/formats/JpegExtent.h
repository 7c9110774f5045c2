#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a JPEG file ends by walking its marker segments (ITU-T T.81 Annex B) from the SOI
// at H: table and application segments by their lengths, so that an Exif thumbnail's FF D9 inside
// APP1 is stepped over; after each start of scan, the entropy-coded data up to the next marker;
// and so on to the first EOI at the top level, the last two bytes of the file.
class JpegExtent {
  public:
    // found(length): the file is `length` bytes from H, up to and including its FF D9.
    // found(length, true): the walk broke after a frame header and a scan (a byte that is no
    // marker where one must stand, the evidence ending); `length` ends at the last whole segment
    // or at the end of the scan data seen.
    // rejected: no SOI, a walk that breaks or ends before it has read a frame header and a scan
    // (segments alone are no picture), a frame header with impossible values before the first
    // scan, or a scan without a frame before it.
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // The entropy-coded data is read in blocks of this many bytes.
    static constexpr std::uint32_t blockSize = 65536;
};

} // namespace morrow
