#include "formats/ExactEnds.h"

#include "evidence/EvidenceReader.h"
#include "formats/BmpExtent.h"
#include "formats/GifExtent.h"
#include "formats/JpegExtent.h"
#include "formats/PngExtent.h"

#include <cstring>

namespace morrow {

Extent ExactEnds::measure(FileTypeId type, EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes) {
    (void)maxBytes;
    switch (type) {
    case kind::Bmp:
        return BmpExtent::measure(evidence, H);
    case kind::Gif:
        return GifExtent::measure(evidence, H);
    case kind::Jpeg:
        return JpegExtent::measure(evidence, H);
    case kind::Png:
        return PngExtent::measure(evidence, H);
    default:
        return Extent::rejected("no structural reader for this kind");
    }
}

const char* ExactEnds::quickTimeExtension(EvidenceReader& evidence, std::int64_t H) {
    unsigned char brand[4];
    evidence.readAt(H + 8, brand, sizeof brand);
    if (std::memcmp(brand, "qt  ", 4) == 0) {
        return ".mov";
    }
    if (std::memcmp(brand, "3g", 2) == 0) {
        return ".3gp";
    }
    return ".mp4";
}

} // namespace morrow
