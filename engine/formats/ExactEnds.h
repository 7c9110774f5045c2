#pragma once

#include "formats/Extent.h"

#include <cstdint>

namespace morrow {

class EvidenceReader;

// The exact-ends mode's one question to a format reader: where does the file that starts at H
// end, by its own structure? `maxBytes` bounds what has no structural end (an HTML page without
// its closing tag). Each kind's reader is named in the kind table (Catalog.h).
using ExactReader = Extent (*)(EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes);

class ExactEnds {
public:
    // A reader whose structure always ends, as an ExactReader.
    template <Extent (*Measure)(EvidenceReader&, std::int64_t)>
    static Extent structural(EvidenceReader& evidence, std::int64_t H, std::uint64_t) {
        return Measure(evidence, H);
    }
    // An HTML document: to its closing tag, or without one as far as its text runs, up to
    // `maxBytes`.
    static Extent html(EvidenceReader& evidence, std::int64_t H, std::uint64_t maxBytes);

    // The extension a QuickTime-family file gets from its major brand: ".mov" for QuickTime's
    // "qt  ", ".3gp" for the 3GPP brands, ".mp4" for every other brand.
    static const char* quickTimeExtension(EvidenceReader& evidence, std::int64_t H);
};

} // namespace morrow
