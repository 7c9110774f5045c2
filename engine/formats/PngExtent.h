#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a PNG file ends by walking its chunks from the signature at H to the IEND chunk,
// checking each chunk's CRC (ISO/IEC 15948, section 5).
class PngExtent {
  public:
    // found(length): the file is `length` bytes from H, up to and including IEND's CRC.
    // found(length, true): after a sound IHDR and image data (IDAT) a chunk broke (a bad CRC, a
    // length or type that is none, the end of the evidence); `length` ends after the last chunk
    // whose CRC held.
    // rejected: no signature, no sound IHDR chunk first, or no IDAT chunk whose CRC held.
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // Chunk data is read for its CRC in blocks of this many bytes.
    static constexpr std::uint32_t blockSize = 65536;
};

} // namespace morrow
