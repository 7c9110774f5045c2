#include "formats/ExactEnds.h"

#include "evidence/EvidenceReader.h"
#include "formats/BmpExtent.h"
#include "formats/GifExtent.h"
#include "formats/HtmlExtent.h"
#include "formats/JpegExtent.h"
#include "formats/PdfExtent.h"
#include "formats/PngExtent.h"
#include "formats/PsdExtent.h"
#include "formats/QuickTimeExtent.h"
#include "formats/TiffExtent.h"

#include <cstring>

namespace morrow {

Extent ExactEnds::measure(FileTypeId type, EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes) {
    switch (type) {
    case kind::Bmp:
        return BmpExtent::measure(evidence, H);
    case kind::Gif:
        return GifExtent::measure(evidence, H);
    case kind::Jpeg:
        return JpegExtent::measure(evidence, H);
    case kind::Png:
        return PngExtent::measure(evidence, H);
    case kind::Tiff:
        return TiffExtent::measure(evidence, H);
    case kind::Psd:
        return PsdExtent::measure(evidence, H);
    case kind::Pdf:
        return PdfExtent::measure(evidence, H);
    case kind::Html: {
        if (!HtmlExtent::startsDocument(evidence, H)) {
            return Extent::rejected("no HTML document starts here");
        }
        const Extent closed = HtmlExtent::measure(evidence, H);
        if (closed) {
            return closed;
        }
        // No closing tag: the page runs as far as its text does, up to the maximum size.
        const std::uint64_t text = HtmlExtent::textLength(evidence, H, maxBytes);
        return text > 0 ? Extent::found(text, true) : Extent::rejected("no text");
    }
    case kind::VideoQuickTime:
        return QuickTimeExtent::measure(evidence, H);
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
