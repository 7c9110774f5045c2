#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// Finds where a BMP file ends from its file header and info header (Microsoft's BITMAPFILEHEADER,
// BITMAPCOREHEADER, BITMAPINFOHEADER, BITMAPV4HEADER and BITMAPV5HEADER, and the OS/2 2.x header):
// for uncompressed pixels, at the pixel array's end, computed from the dimensions, or at the end of
// the ICC profile a version 5 header embeds after it, whichever is further (the file size field
// when it lies between that end and the claimed profile's end plus sizeFieldSlack); for
// compressed ones, at the file size field.
class BmpExtent {
  public:
    // found(length): the file is `length` bytes from H.
    // found(length, true): the headers are sound but the file runs past the end of the evidence;
    // `length` ends there.
    // rejected: no "BM", an info header size of no known version, or fields no writer produces
    // (no planes, a bit count or compression that does not exist, pixels that start inside the
    // headers, a pixel array beyond 4 GiB, a compressed image larger than its file).
    static Extent measure(EvidenceReader& evidence, std::int64_t H);

    // How many bytes the file size field may exceed the computed end by and still be taken: some
    // writers pad the file, none by a sector.
    static constexpr std::uint64_t sizeFieldSlack = 512;
};

} // namespace morrow
