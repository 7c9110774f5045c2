#include "formats/ExactEnds.h"

#include "evidence/EvidenceReader.h"
#include "formats/HtmlExtent.h"

#include <cstring>

namespace morrow {

Extent ExactEnds::html(EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes) {
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
